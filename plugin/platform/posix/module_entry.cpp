// The module's load-time entry on POSIX. It does nothing: the module wants no notification
// when a thread of the host starts or ends, and the loader sends none to turn off.

__attribute__((constructor)) static void QimPlugInModuleEntry() {}
