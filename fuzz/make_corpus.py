#!/usr/bin/env python3
"""Writes the seed corpora of the fuzzers into fuzz/corpus/<fuzzer>/.

Each seed is a meaningful input: a real message of every method, records of
a few API codes, request texts of the server's grammar. Run it again after a
format changes; the files it writes are committed.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(fuzzer, name, data):
    folder = os.path.join(HERE, "corpus", fuzzer)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def field(text, room=65):
    raw = text.encode()
    return raw[:room - 1] + b"\0" * (room - min(len(raw), room - 1))


def header(interface, method, start=0, end=0):
    return field(interface) + field(method) + struct.pack("<qq", start, end)


def chunks(*messages):
    return b"".join(struct.pack("<H", len(m)) + m for m in messages)


# ---- reply_fuzz: control byte, then the peer's messages ---------------------
INVOKE, VERSION, LAST_ERROR, FORMAT, TAG_NAME, TAG_ID, INIT, FREE = range(8)
HANG_UP, FORWARDERS = 0x08, 0x10

RET_OK = b'<QARN_RET>\n\t<boolVal val="true" name="SUCCESS"/>\n</QARN_RET>\0'


def passwd(name=b"doc.gw", length=256):
    body = struct.pack("<Ii", 0, 0) + b"\0" * 256 + struct.pack("<I", length)
    return header("QARN_Callback", "GetDocPasswd") + body + (name + b"\0" * 261)[:261]


def seltext(n=3, rect=(1, 2, 30, 40), value=-5):
    return header("QARN_Callback", "EnumSelectedText") + struct.pack("<IiH4ii", 0, 0, n, *rect, value)


def photo(text=b"absent.jpg", rect=(0, 0, 64, 48), number=7):
    body = struct.pack("<IBI4iI", 0, 0, 0x1234, *rect, number)
    return header("QARN_Callback", "DspAbsentPhoto") + body + (text + b"\0" * 257)[:257]


def reply(interface, method, payload=b""):
    return header(interface, method, 11, 22) + payload


def reply_seeds():
    w = lambda name, control, *m: write("reply_fuzz", name, bytes([control]) + chunks(*m))
    w("invoke_reply", INVOKE, reply("QARN_Driver", "Invoke", RET_OK))
    w("invoke_three_callbacks", INVOKE, passwd(), seltext(), photo(), reply("QARN_Driver", "Invoke", RET_OK))
    w("version_reply", VERSION, reply("QARN_Server", "GetVersion", struct.pack("<i", 10000)))
    w("last_error_reply", LAST_ERROR, reply("QARN_Driver", "GetLastError", struct.pack("<i", 4)))
    w("format_reply", FORMAT, reply("QARN_Driver", "FormatMessage", struct.pack("<i", 4) + b"no such tag\0"))
    w("tag_name_reply", TAG_NAME, reply("QARN_Driver", "GetTagNameByID", struct.pack("<i", 1) + b"document\0"))
    w("tag_id_reply", TAG_ID, reply("QARN_Driver", "GetTagIDByName", struct.pack("<i", 12)))
    w("init_callback_reply", INIT, seltext(), reply("QARN_Driver", "Init"))
    w("free_reply", FREE, reply("QARN_Server", "Shutdown"))
    w("hang_up_mid_callbacks", INVOKE | HANG_UP, passwd(), photo())
    w("oversized_message", INVOKE, b"\x41" * 1025)
    w("empty_message", VERSION, b"")
    w("short_callback_is_reply", INVOKE, field("QARN_Callback") + b"GetDocPasswd")
    w("unknown_callback", INVOKE, header("QARN_Callback", "NoSuchCallback") + b"\x5a" * 100,
      reply("QARN_Driver", "Invoke", RET_OK))
    w("full_slot_text", INVOKE, reply("QARN_Driver", "Invoke", b"x" * (1024 - 146)))
    w("full_slot_format", FORMAT, reply("QARN_Driver", "FormatMessage", b"\0\0\0\0" + b"y" * (1024 - 150)))
    w("full_slot_tag_name", TAG_NAME, reply("QARN_Driver", "GetTagNameByID", b"\1\0\0\0" + b"z" * (1024 - 150)))
    w("unterminated_callback_texts", INVOKE, passwd(b"n" * 261, 0xFFFFFFFF), photo(b"t" * 257),
      reply("QARN_Driver", "Invoke", RET_OK))
    w("forwarder_answers", FORWARDERS, passwd(b"doc.gw", 5), seltext(), photo())
    w("forwarder_long_password", FORWARDERS, passwd(b"doc.gw", 100000), b"", photo())


if __name__ == "__main__":
    reply_seeds()
