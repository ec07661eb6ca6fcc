# -*- coding: utf-8 -*-
# Copyright: QimPlugIn maintainers
# Apache License 2.0 (see LICENSE or https://www.apache.org/licenses/LICENSE-2.0)
# The options every module of the collection shares: where wassetup is and the host options
# it is run with.

from __future__ import annotations


class ModuleDocFragment:
    DOCUMENTATION = r"""
options:
  wassetup:
    description:
      - The C(wassetup) program on the managed host, a path or a name searched in C(PATH).
      - On Windows a name or path without extension gets C(.exe), for instance
        C(C:\Program Files\QIM\wassetup\bin\wassetup.exe).
      - It must be a regular executable file (on Windows a C(.exe) or C(.com)) of version
        0.2.0 or newer; the task fails saying why otherwise.
    type: path
    default: wassetup
  prefs_dir:
    description:
      - The folder of the stored settings (C(wassetup --prefs-dir)).
      - Default is C($XDG_CONFIG_HOME/wassetup), else C(~/.config/wassetup), of the user the
        task runs as; on Windows C(%APPDATA%\wassetup) of that user.
      - On Windows give a full path; nothing expands C(%VAR%) in it.
    type: path
  catalog_dir:
    description:
      - The folder of the message and resource catalogs (C(--catalog-dir)); default the ones
        installed with the tool.
    type: path
  plugin:
    description:
      - The plug-in module to load (C(--plugin)); default the one installed with the tool.
    type: path
  separator:
    description:
      - The directory separator of the paths the plug-in joins (C(--separator)).
    type: str
  db_product:
    description:
      - The database product the application server uses (C(--db-product)).
    type: str
    choices: [IBM DB2, Oracle]
  was_dir:
    description:
      - The application server's directory, the default of the WebSphere field (C(--was-dir)).
    type: path
  nuv_servlet:
    description:
      - The NUV servlet, the default of the NUV servlet field (C(--nuv-servlet)).
    type: str
requirements:
  - C(wassetup) 0.2.0 or newer on the managed host (the C(qimplugin) package, on Windows
    C(wassetup.exe) from its ZIP or installer).
  - The collection C(ansible.windows) 1.14.0 or newer on the controller for Windows hosts.
notes:
  - C(wassetup) is always run with an argument vector, never through a shell, and passwords
    reach it on standard input only. On a POSIX host that is C(ansible.builtin.command),
    which expands C($VAR) and C(~) in the arguments (the host options and paths above),
    never in the settings.
  - A host whose connection uses the C(cmd) or C(powershell) shell (C(winrm), C(psrp), or
    C(ssh) with C(ansible_shell_type)) is a Windows host. C(wassetup.exe) runs there through
    C(ansible.windows.win_command) with C(argv) and C(stdin); the modules look at, read and
    write files with C(ansible.windows.win_stat), C(slurp) and C(win_copy).
"""
