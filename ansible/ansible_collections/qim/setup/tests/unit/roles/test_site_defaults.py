# -*- coding: utf-8 -*-
# Copyright: QimPlugIn maintainers
# Apache License 2.0 (see LICENSE or https://www.apache.org/licenses/LICENSE-2.0)
"""The role's defaults as Ansible renders them for a host: the family it takes the host for
and the paths that follow from it."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import os

import pytest

from ansible.parsing.dataloader import DataLoader
from ansible.template import Templar

DEFAULTS = os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, os.pardir, "roles",
                        "site", "defaults", "main.yml")
POSIX = ("/usr/bin/wassetup", "/var/cache/qim-setup", "/etc/qim/wassetup")
WINDOWS = ("C:\\Program Files\\QIM\\wassetup\\bin\\wassetup.exe", "C:\\ProgramData\\QIM\\setup",
           "")


@pytest.mark.parametrize("host, paths", [
    ({"ansible_connection": "ssh"}, POSIX),
    ({"ansible_connection": "local", "ansible_facts": {"os_family": "Debian"}}, POSIX),
    ({"ansible_connection": "winrm"}, WINDOWS),
    ({"ansible_connection": "psrp"}, WINDOWS),
    ({"ansible_connection": "ssh", "ansible_shell_type": "powershell"}, WINDOWS),
    ({"ansible_connection": "ssh", "ansible_shell_type": "cmd"}, WINDOWS),
    ({"ansible_connection": "ssh", "ansible_facts": {"os_family": "Windows"}}, WINDOWS),
    ({"ansible_connection": "ssh", "qim_setup_host_family": "windows"}, WINDOWS),
    ({"ansible_connection": "winrm", "qim_setup_host_family": "posix"}, POSIX),
    ({"ansible_connection": "winrm", "qim_setup_install_dir": "D:\\Apps\\wassetup"},
     ("D:\\Apps\\wassetup\\bin\\wassetup.exe",) + WINDOWS[1:]),
])
def test_the_defaults_follow_the_hosts_family(host, paths):
    loader = DataLoader()
    templar = Templar(loader=loader, variables=dict(loader.load_from_file(DEFAULTS), **host))
    assert tuple(templar.template("{{ %s }}" % name) for name in (
        "qim_setup_wassetup", "qim_setup_package_dest", "qim_setup_prefs_dir")) == paths
