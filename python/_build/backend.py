"""setuptools' build backend, which first checks that a wheel can be made here: a Python whose
setuptools predates its own bdist_wheel and that has no wheel package (a pyenv or conda Python used
with --no-build-isolation) would otherwise stop at "invalid command 'bdist_wheel'", saying nothing
of the fix."""

import importlib.util

from setuptools import build_meta as _setuptools
from setuptools.build_meta import *  # noqa: F401,F403 (the rest of the backend as it is)

_FIX = (
    "tavrin: this Python cannot build a wheel: its setuptools has no bdist_wheel and the wheel "
    "package is not installed. Install wheel into it (pip install wheel, with a package index), or "
    "use the system's Python with Debian's python3-wheel: /usr/bin/python3 -m venv "
    "--system-site-packages venv; venv/bin/pip install --no-build-isolation ./python "
    "(see python/README.md)"
)


def _can_build_wheels():
    return (importlib.util.find_spec("wheel") is not None
            or importlib.util.find_spec("setuptools.command.bdist_wheel") is not None)


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    if not _can_build_wheels():
        raise SystemExit(_FIX)
    return _setuptools.build_wheel(wheel_directory, config_settings, metadata_directory)


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    if not _can_build_wheels():
        raise SystemExit(_FIX)
    return _setuptools.build_editable(wheel_directory, config_settings, metadata_directory)


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    if not _can_build_wheels():
        raise SystemExit(_FIX)
    return _setuptools.prepare_metadata_for_build_wheel(metadata_directory, config_settings)
