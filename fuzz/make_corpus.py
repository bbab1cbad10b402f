#!/usr/bin/env python3
"""Writes the seed inputs of the peer message fuzzer into fuzz/corpus/.

Each seed is one valid input: a first byte that chooses the road (see
peer_message_fuzzer.cpp) and then a frame body, a stream of frames, or a
connection's first message.
"""
import pathlib
import struct
import zlib

PEER = b"peer"


def u8(v): return struct.pack("<B", v)
def u32(v): return struct.pack("<I", v & 0xFFFFFFFF)
def i32(v): return struct.pack("<i", v)
def i64(v): return struct.pack("<q", v)
def text(s): return u32(len(s)) + s


def file_record(name, size, attributes):
    record = u8(1) + text(name) + i64(size) + text(b"mp3") + u32(len(attributes))
    for code, value in attributes:
        record += u32(code) + i32(value)
    return record


def table():
    return u32(2) + i32(0) + text(b"bitrate") + i32(1) + text(b"length")


def listing():
    folders = u32(2) + text(b"music\\jazz") + u32(2)
    folders += file_record(b"a.mp3", 1000, [(0, 320), (1, 245)]) + file_record(b"b.mp3", 2000, [(2, 1)])
    folders += text(b"empty") + u32(0)
    return u32(5) + zlib.compress(folders + table(), 9)


def search_reply():
    files = file_record(b"music\\a.mp3", 1000, [(0, 320), (1, 245), (2, 0)]) + u8(0)
    files += file_record(b"b.ogg", 5, [(2, 1), (3, 9)])
    plain = text(PEER) + u32(1) + u32(3) + files + u8(1) + i32(250000) + i32(3) + table()
    return u32(9) + zlib.compress(plain, 9)


def bodies():
    return {
        "browse-request": u32(4),
        "listing": listing(),
        "search-reply": search_reply(),
        "folder-request": u32(36) + u32(7) + text(b"music\\jazz"),
        "offer": u32(40) + i32(1) + u32(9) + text(b"music\\a.mp3") + i64(1000),
        "accept": u32(41) + u32(9) + u8(1) + i64(1000),
        "refusal": u32(41) + u32(9) + u8(0) + text(b"Cancelled"),
        "queue": u32(43) + text(b"music\\a.mp3"),
        "place-in-line": u32(44) + text(b"music\\a.mp3") + i32(3),
        "upload-failed": u32(46) + text(b"music\\a.mp3"),
        "upload-denied": u32(50) + text(b"music\\a.mp3") + text(b"File not shared."),
        "place-request": u32(51) + text(b"music\\a.mp3"),
    }


def turn(value, bits):
    bits %= 32
    return ((value << bits) | (value >> (32 - bits))) & 0xFFFFFFFF if bits else value


def masked(body, mask):
    clear = u32(len(body)) + body
    out = bytearray(u32(mask))
    for index, byte in enumerate(clear):
        key = turn(mask, index // 4 + 1)
        out.append(byte ^ ((key >> (8 * (index % 4))) & 0xFF))
    return bytes(out)


def main():
    folder = pathlib.Path(__file__).resolve().parent / "corpus"
    folder.mkdir(exist_ok=True)
    all_bodies = bodies()
    seeds = {f"body-{name}": b"\x00" + body for name, body in all_bodies.items()}
    seeds["frames-plain"] = b"\x01" + b"".join(
        u32(len(all_bodies[name])) + all_bodies[name] for name in ("queue", "accept", "search-reply"))
    seeds["frames-obfuscated"] = b"\x02" + masked(all_bodies["listing"], 0x9E3779B9) + masked(
        all_bodies["offer"], 0x12345678)
    seeds["first-direct"] = b"\x03" + u8(1) + text(b"someone") + text(b"P") + u32(0)
    seeds["first-indirect"] = b"\x03" + u8(0) + u32(12345)
    for name, data in seeds.items():
        (folder / name).write_bytes(data)


if __name__ == "__main__":
    main()
