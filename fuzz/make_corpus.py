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
HANG_UP = 0x08

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


# ---- package_fuzz: selector, flags, size, patches, aims, record --------------
AIM, OWN_SIZE, NO_BUFFERS, DOCUMENT_CALL = 0x01, 0x02, 0x04, 0x08
STRING, TEXT260, ZEROS, NODE, ABSENT, NULL = range(6)  # what a pointer targets


def package(code, flags, aims=(), record=b"", patches=(), size=0):
    head = bytes([0xFF]) + struct.pack("<HBB", code, flags, size) + bytes([len(patches)])
    for target, offset, choice in patches:
        head += bytes([target, offset, choice])
    return head + bytes(aims) + record


def package_seeds():
    w = lambda name, *a, **k: write("package_fuzz", name, package(*a, **k))
    call = AIM | DOCUMENT_CALL
    w("get_version", 1, DOCUMENT_CALL, record=b"\1\0\0\0\0\0\0")
    w("err_mes_with_buffer", 8, call, (ZEROS, STRING), b"\7\0" + b"\0" * 4 + struct.pack("<I", 64) + b"\0" * 4)
    w("err_mes_without_buffer", 8, call, (NULL, STRING), b"\7\0" + b"\0" * 12)
    w("err_mes_length_beyond_block", 8, call, (STRING, STRING), b"\7\0" + b"\0" * 4 + struct.pack("<I", 9000) + b"\0" * 4)
    w("gen_pki_key_fixed_buffers", 11, call, (STRING, TEXT260, TEXT260))
    w("gen_pki_key_buf_large_record", 13, DOCUMENT_CALL, record=b"\x11" * 2310)
    w("encrypt_ca_length_pair", 212, call, (ZEROS, ZEROS), b"\0" * 79)
    w("encrypt_ca_pair_beyond_block", 212, call, (STRING, NODE), b"\0" * 79,
      patches=[(1 + NODE, 0, STRING)])
    w("print_chain", 222, call, (STRING, NODE, ZEROS, STRING, NULL), b"\0" * 18 + b"\x10" + b"\0" * 7)
    w("print_chain_cycle", 222, call, (STRING, NODE, ZEROS, STRING, NODE), b"\0" * 26)
    w("print_ex_optional_string", 233, call, (STRING, ZEROS, NULL), b"\0" * 10 + b"\x08" + b"\0" * 4)
    w("seal_info_optional_buffers", 322, call, (STRING, STRING, ZEROS, TEXT260, NULL), b"\0" * 218)
    w("sys_setting_six_buffers", 401, call, (TEXT260,) * 6, b"\x01" * 66)
    w("search_seal_absent_block", 1005, call, (ABSENT, STRING, TEXT260, TEXT260), b"\0" * 18)
    w("encrypt_pic_length_cell", 1006, call, (ZEROS, ZEROS, ZEROS), b"\0" * 34)
    w("merge_files_no_buffers", 2000, AIM | NO_BUFFERS | DOCUMENT_CALL, (STRING, STRING, STRING), b"\0" * 14)
    w("short_record_block", 234, call | OWN_SIZE, (STRING, ZEROS, STRING, STRING, STRING), b"\0" * 23, size=2)
    w("unknown_code", 9999, DOCUMENT_CALL, record=b"\xAB" * 16)
    w("usb_printer_chain", 0xFFFF, call, (NODE, STRING, STRING, NULL, ZEROS), b"\0" * 8)
    w("usb_printer_cycle", 0xFFFF, call, (NODE, STRING, STRING, NODE, NODE), b"\0" * 8)


# ---- code_text_fuzz: code text, zero byte, block name ------------------------
def code_text_seeds():
    seeds = {
        "plain": b"222\0-1073741824",
        "blanks_and_sign": b" \t\n+2000\0" + b"1234",
        "negative": b"-8\0" + b"-2147483648",
        "leading_zeros": b"00\0" + b"4096",
        "not_a_number": b"x\0" + b"1",
        "digits_then_text": b"13abc\0" + b"0",
        "overflow": b"99999999999999999999\0" + b"2147483647",
        "underflow": b"-2147483649\0" + b"12",
        "two_signs": b"+-5\0" + b"5",
        "vertical_tab_form_feed": b"\x0b\x0c\r401\0" + b"7",
        "name_with_slash": b"8\0" + b"../../etc/passwd",
        "long_name": b"1\0" + b"9" * 300,
        "record_zero": b"1\0" + b"0",
        "code_zero_text": b"0\0" + b"1234",
    }
    for name, data in seeds.items():
        write("code_text_fuzz", name, data)

# ---- request_parser_fuzz: requests, each with a length prefix ----------------
def request(interface, method, payload=b""):
    return header(interface, method) + payload


def invoke(text):
    return request("QARN_Driver", "Invoke", text + b"\0")


DRIVER_INIT = request("QARN_Driver", "Init")


def request_parser_seeds():
    w = lambda name, *m: write("request_parser_fuzz", name, chunks(*m))
    w("init_help", DRIVER_INIT, invoke(b"help"))
    w("version_status_without_init", invoke(b"version"), invoke(b"status"), invoke(b"echo early"))
    w("echo_escapes", DRIVER_INIT, invoke(b'echo <a&b> "q" \x01\xff  tail  '))
    w("fail_codes", DRIVER_INIT, invoke(b"fail 0x7fffffff"), invoke(b"fail -1"), invoke(b"fail 08"),
      request("QARN_Driver", "GetLastError", b"\0" * 4))
    w("tags", DRIVER_INIT, invoke(b"tag 1"), invoke(b"tag document"), invoke(b"tag nothing"),
      request("QARN_Driver", "GetTagNameByID", struct.pack("<i", 5) + b"\0" * 257),
      request("QARN_Driver", "GetTagIDByName", b"seal\0" + b"\0" * 256))
    w("filters", DRIVER_INIT, request("QARN_Server", "CreateFilter", struct.pack("<I", 4) + b"\0" * 4),
      request("QARN_Server", "GetFilterName", struct.pack("<I", 0x1000) + b"\0" * 16),
      invoke(b"filters"), request("QARN_Server", "GetFilterName", struct.pack("<I", 0x1000)))
    w("callbacks", DRIVER_INIT, invoke(b"callback passwd 0x1234 my document.gw"),
      invoke(b"callback text 0x10 3 1 2 3 4 5"), invoke(b"callback photo 0x10 0 1 2 3 4 9 photo text"),
      invoke(b"callback passwd 0 x"), invoke(b"callback text 0x10 70000 1 2 3 4 5"))
    w("document_calls", DRIVER_INIT, invoke(b"call 1234 8"), invoke(b"call 0 1"), invoke(b"call -2147483648 2000"),
      invoke(b"call x y z"))
    w("format_messages", request("QARN_Driver", "FormatMessage", struct.pack("<i", 4) + b"\0" * 513),
      request("QARN_Driver", "FormatMessage", struct.pack("<i", -999) + b"\0" * 513))
    w("shutdown_then_more", request("QARN_Server", "GetVersion", b"\0" * 4),
      request("QARN_Server", "Shutdown"), DRIVER_INIT)
    w("odd_names", request("QARN_Callback", "GetDocPasswd", b"\0" * 20), request("Nobody", "Nothing"),
      request("QARN_Driver", "invoke", b"help\0"))
    w("short_and_empty", b"QARN_Driver", b"", field("QARN_Driver") + b"Init")
    w("long_text_is_cut", DRIVER_INIT, invoke(b"echo " + b"&<>" * 600))
    w("clean_then_echo", DRIVER_INIT, request("QARN_Driver", "Clean"), invoke(b"echo after clean"))

if __name__ == "__main__":
    reply_seeds()
    package_seeds()
    code_text_seeds()
    request_parser_seeds()
