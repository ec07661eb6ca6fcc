# -*- coding: utf-8 -*-
# Copyright: QimPlugIn maintainers
# Apache License 2.0 (see LICENSE or https://www.apache.org/licenses/LICENSE-2.0)
"""Makes the collection importable as ansible_collections.qim.setup when pytest runs from
a checkout or an installed collections path."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import os
import sys

COLLECTIONS_ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), *[os.pardir] * 5))
if COLLECTIONS_ROOT not in sys.path:
    sys.path.insert(0, COLLECTIONS_ROOT)
