// The command tags and their error messages. (Not built yet: no tags, no messages.)

#include "plugin/QimSetupPlugIn.h"

const char QimSetupPlugIn::CommandTagTable[16][16] = {
    "qim_copy",     "java_qim",       "java_app",       "java_qimdef",
    "java_nuvdef",  "java_fmcdef",    "java_qimcreate", "java_nuvcreate",
    "java_fmccreate", "java_zafenv",  "java_dbsetup",   "java_db2file",
    "java_runbat",  "java_xml1",      "java_xml2",      "java_cp"};

void QimSetupPlugIn::GetCommandTags(ZAFRawCollPV& tags) { tags.RemoveAll(); }

void QimSetupPlugIn::GetCommandErrorMessage(const void* /*tag*/, int /*status*/,
                                            const ZAFUnicodeString& /*detail*/,
                                            ZAFUnicodeString& title, ZAFUnicodeString& text) {
  title = "";
  text = "";
}
