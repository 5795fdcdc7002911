#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/) from valid forms.

Run once when a form changes; the files are committed, and the fuzz runs never add to them.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def raw(text, fmt=1):
    """A log string's raw form: format, length, text and terminator."""
    if fmt == 2:
        body = text.encode("utf-16-le") + b"\0\0"
    else:
        body = text + b"\0"
    return bytes([fmt]) + struct.pack("<I", len(body)) + body


def record(texts, data=b"", numbers=(4, 0x80004005, 154, 4711, 4242)):
    """A log record: total, five numbers, seven log strings, data size, data."""
    strings = b"".join(texts)
    total = 24 + len(strings) + 4 + len(data)
    return struct.pack("<6I", total, *numbers) + strings + struct.pack("<I", len(data)) + data


def form(payload):
    """A string class's serialised record."""
    return b"\x01" + struct.pack("<I", len(payload)) + payload


def multi(*strings):
    return b"".join(s.encode("utf-16-le") + b"\0\0" for s in strings) + b"\0\0"


def provider_string(text):
    """A string as FuzzedDataProvider's ConsumeRandomLengthString reads it from the front."""
    return text.replace(b"\\", b"\\\\") + b"\\E"


def int32(value):
    """An int32 as FuzzedDataProvider's ConsumeIntegral reads it from the end."""
    return struct.pack("<I", (value + 2**31) % 2**32)


def key_case(key, key_size, capacity, flags=0, code=None):
    tail = int32(capacity) + int32(key_size)
    if code is None:
        tail += b"\x00"
    else:
        tail += int32(code) + b"\x01"
    return provider_string(key) + tail + bytes([flags])


REG5 = (
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Halvex\\Logs\\Default\\TextFile]\r\n"
    '"Enabled"=dword:00000001\r\n"Detail"=dword:0000000e\r\n"Type"=dword:00000001\r\n'
    '"Target"="C:\\\\ProgramData\\\\Halvex\\\\Logs\\\\VelnorApi.log"\r\n'
    '"AllowObjects"=hex(7):43,00,51,00,49,00,52,00,00,00,41,00,00,00,00,00\r\n'
    '"Blob"=hex:01,02,03,\\\r\n  04,05\r\n@="default"\r\n'
    "[-HKEY_LOCAL_MACHINE\\Software\\Gone]\r\n"
)
REG4 = (
    "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Halvex\\Logs\\app.exe\\Out]\n"
    '"Enabled"=dword:1\n"Name"=hex(1):61,62,00\n"Q"=hex(b):01,00,00,00,00,00,00,00\n'
    '"Enabled"=-\n; a comment\n[HKEY_CURRENT_USER\\Skipped]\n"x"="y"\n'
)

SEEDS = {
    "fuzz_log_string_multibyte": {
        "ab": raw(b"ab"),
        "empty": raw(b""),
        "wide": raw("ab", 2),
        "function": raw(b"CQIRBuffer<unsigned char>::alloc"),
        "utf8": raw("straße".encode("utf-8")),
    },
    "fuzz_log_data": {
        "empty_texts": record([raw(b"")] * 7),
        "report": record(
            [raw(b"could not find device, hResult = 0x80004005"), raw(b"GetTouchpadLaunchState"),
             raw(b""), raw(b"GetTouchpadLaunchState"), raw(b"VelnorApi"), raw(b"companion.exe"),
             raw(b"Fri Dec 04 09:41:24 2026")],
            data=b"\x01\x02\x03"),
        "wide_text": record([raw("message", 2)] + [raw(b"x")] * 6),
    },
    "fuzz_string_multibyte": {
        "abc": form(b"abc\0"),
        "empty": form(b""),
        "two": form(b"ab\0") + form(b"cd\0"),
        "inner_zero": form(b"a\0b\0"),
        "other_format": b"\x02" + form(b"abc\0")[1:],
    },
    "fuzz_reg_file": {
        "unicode.reg": b"\xff\xfe" + REG5.encode("utf-16-le"),
        "utf8.reg": b"\xef\xbb\xbf" + REG5.encode("utf-8"),
        "regedit4.reg": REG4.encode("ascii"),
    },
    "fuzz_log_config_multi_string": {
        "two": multi("CQIRBuffer<char>", "CQIRStringWChar"),
        "one": "companion.exe".encode("utf-16-le") + b"\0\0",
        "unterminated": multi("a") + "rest".encode("utf-16-le"),
    },
    "fuzz_registry_key": {
        "fits": key_case(b"SYSTEM\\Touchpad\\0001", 21, 64),
        "exact": key_case(b"SYSTEM\\Touchpad\\0001", 21, 22),
        "too_small": key_case(b"SYSTEM\\Touchpad\\0001", 21, 21),
        "query_fails": key_case(b"KEY", 4, 64, code=-2147467259),
        "size_below_text": key_case(b"SYSTEM\\Touchpad\\0001", 3, 10),
        "no_device": key_case(b"KEY", 4, 64, flags=4),
    },
}
SEEDS["fuzz_log_string_wchar"] = SEEDS["fuzz_log_string_multibyte"]
SEEDS["fuzz_string_wchar"] = SEEDS["fuzz_string_multibyte"]

for target, files in SEEDS.items():
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, content in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(content)
