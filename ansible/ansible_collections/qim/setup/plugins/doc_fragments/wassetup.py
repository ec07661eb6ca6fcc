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
      - It must be a regular executable file of version 0.2.0 or newer; the task fails
        saying why otherwise.
    type: path
    default: wassetup
  prefs_dir:
    description:
      - The folder of the stored settings (C(wassetup --prefs-dir)).
      - Default is C($XDG_CONFIG_HOME/wassetup), else C(~/.config/wassetup), of the user the
        task runs as.
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
  - C(wassetup) 0.2.0 or newer on the managed host (the C(qimplugin) package).
notes:
  - C(wassetup) is always run with an argument vector, never through a shell, by
    C(ansible.builtin.command); passwords reach it on standard input only. The module
    C(ansible.builtin.command) expands C($VAR) and C(~) in the arguments (the host options
    and paths above), never in the settings.
"""
