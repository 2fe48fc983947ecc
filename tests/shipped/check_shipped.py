#!/usr/bin/env python3
"""What `make build` and `make dist` hand out holds nothing of the test build.

    check_shipped.py --build build/win [--build build/win-x86 ...] --test-build build/win-test

For the programs and Bass.dll in each <build>/bin (both architectures ship): no TUNER_ name
(8-bit or UTF-16) and no call that reads the environment, so no test variable can be read;
Bass.dll exports exactly the library's 28 names; its link map holds no
code of the test build (switches, capture, forced failures). The same look at the test
build must find all of that (the programs' switch included), or this check could not tell.
"""
import argparse
import pathlib
import struct
import sys

ENTRIES = {
    "BASS_Init", "BASS_Free", "BASS_StreamCreateFile", "BASS_StreamCreateURL",
    "BASS_StreamFree", "BASS_ChannelPlay", "BASS_ChannelStop", "BASS_Stop", "BASS_SetVolume",
    "BASS_ErrorGetCode", "BASS_GetDeviceInfo", "BASS_GetDevice", "BASS_StreamGetFilePosition",
    "BASS_GetInfo", "BASS_ChannelGetInfo", "BASS_ChannelGetData", "BASS_ChannelGetLevel",
    "BASS_ChannelGetLevelEx", "BASS_ChannelGetPosition", "BASS_ChannelPause",
    "BASS_ChannelGetLength", "BASS_ChannelGetTags", "BASS_ChannelGetAttribute",
    "BASS_ChannelBytes2Seconds", "BASS_ChannelSetAttribute", "BASS_ChannelSetPosition",
    "BASS_MusicLoad", "BASS_MusicFree"}
SHIPPED = ("listen_tuner.exe", "download_tuner.exe", "Bass.dll")
TEST_NAME = b"TUNER_"
# How a program reads its environment; what ships has no need to.
ENVIRONMENT_READS = (b"GetEnvironmentVariable", b"getenv")
# Code that only the test build links into Bass.dll, as the link map names it.
TEST_ONLY_CODE = ("test_switches_win.cpp", "capture.cpp", "wav_writer.cpp", "ApplyTestSwitches",
                  "FailAllocationAt", "WavWriter", "NumberedCapturePath")


def exported_names(data):
    """The names a PE file exports (32- or 64-bit)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    export_rva, export_size = struct.unpack_from("<II", data, directories)
    if export_size == 0:
        return set()
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            size, address, _, raw = struct.unpack_from("<IIII", data, table + i * 40 + 8)
            if address <= rva < address + max(size, 1):
                return rva - address + raw
        raise ValueError("address %#x is in no section" % rva)

    directory = offset(export_rva)
    count = struct.unpack_from("<I", data, directory + 24)[0]  # NumberOfNames
    names_rva = struct.unpack_from("<I", data, directory + 32)[0]  # AddressOfNames
    names = set()
    for i in range(count):
        at = offset(struct.unpack_from("<I", data, offset(names_rva) + 4 * i)[0])
        names.add(data[at:data.index(b"\0", at)].decode())
    return names


def findings(bin_folder, names=SHIPPED):
    """What of the test build the files in `bin_folder` hold, as lines of text."""
    found = []
    for name in names:
        data = (bin_folder / name).read_bytes()
        for form in (TEST_NAME, TEST_NAME.decode().encode("utf-16-le")):
            if form in data:
                found.append("%s holds the name %r" % (name, form))
        for read in ENVIRONMENT_READS:
            if read in data:
                found.append("%s reads its environment (%s)" % (name, read.decode()))
    exported = exported_names((bin_folder / "Bass.dll").read_bytes())
    if exported - ENTRIES:
        found.append("Bass.dll exports more than the 28 entries: %s" % sorted(exported - ENTRIES))
    if ENTRIES - exported:
        found.append("Bass.dll lacks %s" % sorted(ENTRIES - exported))
    link_map = (bin_folder / "Bass.map").read_text(errors="replace")
    for code in TEST_ONLY_CODE:
        if code in link_map:
            found.append("Bass.dll was linked with %s" % code)
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, action="append")
    parser.add_argument("--test-build", required=True)
    args = parser.parse_args()
    shipped = []
    for build in map(pathlib.Path, args.build):
        found = findings(build / "bin")
        for line in found:
            print("shipped (%s): %s" % (build.name, line))
        shipped += found
    # The test build shows each kind of finding, so their absence above means something.
    test = findings(pathlib.Path(args.test_build) / "bin", names=SHIPPED)
    seen = {"name": all(any(f.startswith(name + " holds the name") for f in test)
                        for name in SHIPPED),
            "environment read": any("reads its environment" in f for f in test),
            "code": any("linked with" in f for f in test)}
    for kind, present in seen.items():
        if not present:
            print("the test build shows no test-only %s: this check cannot see it" % kind)
    if shipped or not all(seen.values()):
        return 1
    print("the shipped programs and Bass.dll hold nothing of the test build")
    return 0


if __name__ == "__main__":
    sys.exit(main())
