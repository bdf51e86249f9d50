#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/. Run again after changing the seeds."""
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))


def frame(command, payload):
    body = []
    for b in payload:
        body += [0x50 | (b & 0x0F), 0x50 | (b >> 4)]
    check = 0xA0 | (sum(body) & 0x0F)
    return bytes([0xC1, command, 0xE0 | (len(payload) & 0x0F)] + body + [check, 0xDF])


def frames():
    good = frame(0xB2, [0x81])
    return {
        "relay_byte": frame(0xB2, [0x05]),
        "input_change": good,
        "vcc_reply": bytes.fromhex("C1BCE2505253 50A5DF".replace(" ", "")),
        "version_reply": frame(0xB7, b"1.05a"),
        "config_write": frame(0xB4, [5, 2, 0, 1, 0, 1, 9]),
        "identity_16": frame(0xB6, list(range(0, 256, 17))),
        "code_zero": frame(0xB0, [0x00]),
        "high_nibbles_cleared": bytes.fromhex("C1B2E10108A9DF"),
        "wrong_check": good[:5] + b"\xA0" + good[6:],
        "wrong_end": good[:6] + b"\xDE",
        "stray_byte_first": b"\x00" + good,
        "two_frames": good + good,
    }


def trigger(pattern, stream, ignore_case=False, letters=False):
    mode = ((len(pattern) - 1) << 2) | (2 if letters else 0) | (1 if ignore_case else 0)
    return bytes([mode]) + bytes(pattern) + bytes(stream)


def triggers():
    head = b"\xC1\xB2\xE1"
    change = frame(0xB2, [0x81])
    return {
        "input_change_head": trigger(head, b"\x11\x22" + change + change + b"\xC1\xC1\xB2\xE1"),
        "head_split_and_broken": trigger(head, b"\xC1\xB2\xC1\xB2\xE1\xC1\xB2\xB2\xE1"),
        "aba_overlap": trigger(b"ABA", b"ABABAxABA"),
        "ignore_case_ansi": trigger(b"\xC1\xB2abc\xFF", b"\xE1\xB2ABC\x9F\xE1\xB2aBc\xFF", True),
        "longest_string": trigger(b"0123456789abcdefghijk", b"x0123456789abcdefghijk0123"),
        # Letters a A b B (indices 0..3).
        "letters_exact": trigger([0, 2, 0, 2], [0, 2, 0, 0, 2, 0, 2, 0, 2], letters=True),
        "letters_folded": trigger([0, 3, 1], [1, 2, 0, 3, 3, 1, 2, 0], True, True),
        # ABABB in ABAABAABAABAABABABB: copies of one candidate once filled every slot.
        "crowded_slots": trigger([1, 3, 1, 3, 3], [1, 3, 1, 1, 3, 1, 1, 3, 1, 1, 3, 1, 1, 3, 1,
                                                   3, 1, 3, 3], letters=True),
    }


def image(marks, fill=0):
    img = bytearray([fill] * 6144)
    for at, text in marks:
        img[at:at + len(text)] = text
    return bytes(img)


def images():
    m = b"WXYZVERSION"
    return {
        "version_at_100": image([(95, b"1.05a" + m)]),
        "marker_last_place": image([(6127, b"9.99z" + m)]),
        "marker_one_too_late": image([(6128, b"9.99z" + m)]),
        "second_marker_counts": image([(100, m), (300, b"2.00 " + m)]),
        "zero_in_version": image([(95, b"1.0\x007" + m)]),
        "marker_at_start": image([(2, m), (2000, b"3.1.4" + m)], 0xFF),
        "all_ff": image([], 0xFF),
    }


def write(name, files):
    out = os.path.join(HERE, "corpus", name)
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    for fname, data in files.items():
        with open(os.path.join(out, fname), "wb") as f:
            f.write(data)


write("frame_decode", frames())
write("trigger_match", triggers())
write("image_load", images())
