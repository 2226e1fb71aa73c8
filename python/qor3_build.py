"""The build backend of the qor3 wheel: CMake builds libqor3 from the source tree above this
directory and the wheel carries it inside the package, so `import qor3` needs nothing else
installed. Needs no package from an index (pip --no-build-isolation --no-index works offline).

$QOR3_WHEEL_LIBRARY names a libqor3.so already built to put in the wheel instead; otherwise
the library is built in python/build/cmake (kept, so a second build is quick)."""
import base64
import hashlib
import os
import subprocess
import sys
import sysconfig
import tomllib
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
SOURCE = HERE.parent


def _versions():
    path = SOURCE / "VERSION"
    if not path.is_file():
        raise RuntimeError(f"{path} is missing: build the wheel from the qor3 source tree")
    return dict(line.split("=", 1) for line in path.read_text(encoding="utf-8").splitlines()
                if "=" in line and not line.startswith("#"))


def _tag():
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"py3-none-{platform}"


def _library():
    prebuilt = os.environ.get("QOR3_WHEEL_LIBRARY")
    if prebuilt:
        return Path(prebuilt)
    build = HERE / "build" / "cmake"
    for command in (["cmake", "-S", str(SOURCE), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                     "-DQOR3_TESTS=OFF", "-DQOR3_TOOLS=OFF"],
                    ["cmake", "--build", str(build), "--target", "qor3", "-j2"]):
        subprocess.run(command, check=True, stdout=sys.stderr)
    return build / "libqor3.so.3"


def _metadata(version):
    with open(HERE / "pyproject.toml", "rb") as f:
        project = tomllib.load(f)["project"]
    readme = (HERE / project["readme"]).read_text(encoding="utf-8")
    return (f"Metadata-Version: 2.1\nName: {project['name']}\nVersion: {version}\n"
            f"Summary: {project['description']}\nLicense: MIT\n"
            f"Requires-Python: {project['requires-python']}\n"
            f"Description-Content-Type: text/markdown\n\n{readme}")


def get_requires_for_build_wheel(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    versions = _versions()
    version = versions["PROJECT_VERSION"]
    dist_info = f"qor3-{version}.dist-info"
    files = {}
    for path in sorted((HERE / "qor3").glob("*.py")):
        files["qor3/" + path.name] = path.read_bytes()
    files["qor3/_version.py"] = (f'PROJECT_VERSION = "{version}"\n'
                                 f'LIBRARY_VERSION = "{versions["LIBRARY_VERSION"]}"\n').encode()
    library = _library()
    files["qor3/libqor3.so.3"] = library.read_bytes()
    files[dist_info + "/METADATA"] = _metadata(version).encode()
    # The build tree's licence adds the notices of what the library has linked in.
    license = library.parent / "LICENSE"
    files[dist_info + "/LICENSE"] = (license if license.is_file() else SOURCE / "LICENSE").read_bytes()
    files[dist_info + "/WHEEL"] = (f"Wheel-Version: 1.0\nGenerator: qor3_build\n"
                                   f"Root-Is-Purelib: false\nTag: {_tag()}\n").encode()
    record = []
    for name, data in files.items():
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        record.append(f"{name},sha256={digest},{len(data)}")
    record.append(f"{dist_info}/RECORD,,")
    files[dist_info + "/RECORD"] = ("\n".join(record) + "\n").encode()

    name = f"qor3-{version}-{_tag()}.whl"
    with zipfile.ZipFile(Path(wheel_directory) / name, "w", zipfile.ZIP_DEFLATED) as wheel:
        for path, data in files.items():
            info = zipfile.ZipInfo(path, date_time=(2020, 1, 1, 0, 0, 0))
            info.external_attr = (0o755 if path.endswith(".so.3") else 0o644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, data)
    return name
