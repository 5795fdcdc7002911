#!/usr/bin/env python3
"""Writes the seed corpora (fuzz/corpus/<target>/) from valid forms; run it when a form changes."""
import os
import struct

U32 = lambda *n: struct.pack("<%dI" % len(n), *n)
I32 = lambda n: U32((n + 2**31) % 2**32)  # an int32 as FuzzedDataProvider reads it, from the end
# A log string (format, length, text and terminator), a log record (total, five numbers, seven
# log strings, data size, data), a string class's record, REG_MULTI_SZ data.
RAW = lambda t, f=1: bytes([f]) + U32(len(t) + f) + t + b"\0" * f
WIDE = lambda t: RAW(t.encode("utf-16-le"), 2)
RECORD = lambda t, d=b"": U32(28 + len(b"".join(t)) + len(d), 4, 0x80004005, 154, 4711, 4242) + b"".join(t) + U32(len(d)) + d
FORM = lambda p: b"\x01" + U32(len(p)) + p
MULTI = lambda *s: b"".join(x.encode("utf-16-le") + b"\0\0" for x in s) + b"\0\0"
# The key from the front ('\' doubled, ended by "\E"), then capacity, size, result code, flags.
KEY = lambda k, size, cap, flags=0, code=None: (k.replace(b"\\", b"\\\\") + b"\\E" + I32(cap) + I32(size)
                                                + (b"\0" if code is None else I32(code) + b"\1") + bytes([flags]))
REG5 = ('Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Halvex\\Logs\\Default\\TextFile]\r\n'
        '"Enabled"=dword:00000001\r\n"Detail"=dword:0000000e\r\n"Type"=dword:00000001\r\n'
        '"Target"="C:\\\\ProgramData\\\\Halvex\\\\Logs\\\\VelnorApi.log"\r\n'
        '"AllowObjects"=hex(7):43,00,51,00,49,00,52,00,00,00,41,00,00,00,00,00\r\n'
        '"Blob"=hex:01,02,03,\\\r\n  04,05\r\n@="default"\r\n[-HKEY_LOCAL_MACHINE\\Software\\Gone]\r\n')
REG4 = ('REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Halvex\\Logs\\app.exe\\Out]\n"Enabled"=dword:1\n'
        '"Name"=hex(1):61,62,00\n"Q"=hex(b):01,00,00,00,00,00,00,00\n"Enabled"=-\n; a comment\n'
        '[HKEY_CURRENT_USER\\Skipped]\n"x"="y"\n')
PATH = b"SYSTEM\\Touchpad\\0001"
LOG_STRINGS = dict(ab=RAW(b"ab"), empty=RAW(b""), wide=WIDE("ab"), function=RAW(b"CQIRBuffer<unsigned char>::alloc"),
                   utf8=RAW("straße".encode("utf-8")))
STRINGS = dict(abc=FORM(b"abc\0"), empty=FORM(b""), two=FORM(b"ab\0") + FORM(b"cd\0"), inner_zero=FORM(b"a\0b\0"),
               other_format=b"\x02" + FORM(b"abc\0")[1:])
SEEDS = dict(
    fuzz_log_string_multibyte=LOG_STRINGS, fuzz_log_string_wchar=LOG_STRINGS,
    fuzz_string_multibyte=STRINGS, fuzz_string_wchar=STRINGS,
    fuzz_log_data={"empty_texts": RECORD([RAW(b"")] * 7), "wide_text": RECORD([WIDE("message")] + [RAW(b"x")] * 6),
                   "report": RECORD([RAW(b"could not find device, hResult = 0x80004005"), RAW(b"GetTouchpadLaunchState"),
                                     RAW(b""), RAW(b"GetTouchpadLaunchState"), RAW(b"VelnorApi"),
                                     RAW(b"companion.exe"), RAW(b"Fri Dec 04 09:41:24 2026")], b"\1\2\3")},
    fuzz_reg_file={"unicode.reg": b"\xff\xfe" + REG5.encode("utf-16-le"), "utf8.reg": b"\xef\xbb\xbf" + REG5.encode(),
                   "regedit4.reg": REG4.encode()},
    fuzz_log_config_multi_string=dict(two=MULTI("CQIRBuffer<char>", "CQIRStringWChar"), one=MULTI("companion.exe")[:-2],
                                      unterminated=MULTI("a") + "rest".encode("utf-16-le")),
    fuzz_registry_key=dict(fits=KEY(PATH, 21, 64), exact=KEY(PATH, 21, 22), too_small=KEY(PATH, 21, 21),
                           size_below_text=KEY(PATH, 3, 10), query_fails=KEY(b"KEY", 4, 64, code=-2147467259),
                           no_device=KEY(b"KEY", 4, 64, flags=4)))
for target, files in SEEDS.items():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, content in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(content)
