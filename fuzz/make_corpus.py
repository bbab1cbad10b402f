#!/usr/bin/env python3
"""Writes the seed inputs of every fuzz target into fuzz/corpus/<target>/.

Each seed is one valid input in the target's own layout (see the comment at
the top of each *_fuzzer.cpp):
  peer_message: a first byte that chooses the road, then a frame body, a
      stream of frames, or a connection's first message;
  server_message: a first byte that chooses the link's state, then frames
      from the server;
  dnet: a script of steps for the distributed network's neighbours;
  data_file: client data files as the saver writes them, for the harness's
      schema;
  received_files: a first byte that chooses a listing or a search reply,
      then its body as it is after inflation.
"""
import pathlib
import struct
import zlib

PEER = b"peer"


def u8(v): return struct.pack("<B", v)
def u16(v): return struct.pack("<H", v)
def u32(v): return struct.pack("<I", v & 0xFFFFFFFF)
def i32(v): return struct.pack("<i", v)
def i64(v): return struct.pack("<q", v)
def text(s): return u32(len(s)) + s
def stats(speed, downloads, files, folders): return i32(speed) + i64(downloads) + i32(files) + i32(folders)


def file_record(name, size, attributes):
    record = u8(1) + text(name) + i64(size) + text(b"mp3") + u32(len(attributes))
    for code, value in attributes:
        record += u32(code) + i32(value)
    return record


def table():
    return u32(2) + i32(0) + text(b"bitrate") + i32(1) + text(b"length")


def listing_body():
    folders = u32(2) + text(b"music\\jazz") + u32(2)
    folders += file_record(b"a.mp3", 1000, [(0, 320), (1, 245)]) + file_record(b"b.mp3", 2000, [(2, 1)])
    folders += text(b"empty") + u32(0)
    return folders + table()


def listing():
    return u32(5) + zlib.compress(listing_body(), 9)


def search_reply_body(files_count=3):
    files = file_record(b"music\\a.mp3", 1000, [(0, 320), (1, 245), (2, 0)]) + u8(0)
    files += file_record(b"b.ogg", 5, [(2, 1), (3, 9)])
    return text(PEER) + u32(1) + u32(files_count) + files + u8(1) + i32(250000) + i32(3) + table()


def search_reply():
    return u32(9) + zlib.compress(search_reply_body(), 9)


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


def peer_seeds():
    all_bodies = bodies()
    seeds = {f"body-{name}": b"\x00" + body for name, body in all_bodies.items()}
    seeds["frames-plain"] = b"\x01" + b"".join(
        u32(len(all_bodies[name])) + all_bodies[name] for name in ("queue", "accept", "search-reply"))
    seeds["frames-obfuscated"] = b"\x02" + masked(all_bodies["listing"], 0x9E3779B9) + masked(
        all_bodies["offer"], 0x12345678)
    seeds["first-direct"] = b"\x03" + u8(1) + text(b"someone") + text(b"P") + u32(0)
    seeds["first-indirect"] = b"\x03" + u8(0) + u32(12345)
    return seeds


def received_files_seeds():
    many = b"".join(file_record(b"f%d.mp3" % n, n, [(0, n)]) for n in range(40))
    return {
        "listing": b"\x00" + listing_body(),
        "listing-many": b"\x00" + u32(1) + text(b"many") + u32(40) + many + table(),
        "search-reply": b"\x01" + search_reply_body(),
        "search-reply-many": b"\x01" + text(PEER) + u32(1) + u32(40) + many + u8(1) + i32(1) + i32(0) + table(),
    }


# The server's messages ---------------------------------------------------

def server_frame(code, payload):
    return u32(len(payload) + 4) + u32(code) + payload


def search_payload(user, token, query):
    return u32(0) + text(user) + u32(token) + text(query)


def server_messages():
    room_stats = stats(250000, 12, 340, 7)
    return {
        "login-accepted": server_frame(1, u8(1) + text(b"Welcome") + u32(0x7F000001) + text(b"d41d8cd9") + u8(0)),
        "login-refused": server_frame(1, u8(0) + text(b"INVALIDPASS")),
        "user-address": server_frame(3, text(b"erin") + u32(0x0A000001) + u32(2234) + u32(1) + u32(2235)),
        "add-user": server_frame(5, text(b"dave") + u8(1) + u32(2) + room_stats + text(b"NZ")),
        "add-user-unknown": server_frame(5, text(b"nobody") + u8(0)),
        "user-status": server_frame(7, text(b"carol") + u32(0) + u8(0)),
        "room-chat": server_frame(13, text(b"lobby") + text(b"alice") + text(b"hello all")),
        "join-room": server_frame(14, text(b"jazz") + u32(2) + text(b"alice") + text(b"zed") + u32(2) + u32(2) + u32(1)
                                  + u32(2) + room_stats + room_stats + u32(2) + u32(0) + u32(1) + u32(2) + text(b"DE")
                                  + text(b"FR")),
        "leave-room": server_frame(15, text(b"lobby")),
        "user-joined-room": server_frame(16, text(b"lobby") + text(b"zed") + u32(2) + room_stats + u32(0) + text(b"IT")),
        "user-left-room": server_frame(17, text(b"lobby") + text(b"bob")),
        "connect-to-peer": server_frame(18, text(b"alice") + text(b"P") + u32(0x7F000001) + u32(2234) + u32(77) + u8(0)
                                        + u32(1) + u32(2235)),
        "private-chat": server_frame(22, u32(9) + u32(1700000000) + text(b"alice") + text(b"hi there") + u8(1)),
        "user-stats": server_frame(36, text(b"bob") + room_stats),
        "room-list": server_frame(64, u32(2) + text(b"lobby") + text(b"jazz") + u32(2) + u32(5) + u32(9)),
        "privileges": server_frame(92, u32(86400)),
        "embedded-search": server_frame(93, u8(3) + search_payload(b"asker", 5, b"blue moon")),
        "parent-candidates": server_frame(102, u32(1) + text(b"p1") + u32(0x7F000001) + u32(2234)),
        "wish-list-interval": server_frame(104, u32(720)),
        "distributed-reset": server_frame(130, b""),
        "cant-connect": server_frame(1001, u32(77)),
        "unknown": server_frame(4242, b"\x01\x02"),
    }


def server_seeds():
    messages = server_messages()
    seeds = {}
    for name, frame in messages.items():
        seeds[f"logged-in-{name}"] = b"\x01" + frame
    seeds["logging-in-accepted-then-chat"] = b"\x00" + messages["login-accepted"] + messages["private-chat"]
    seeds["logging-in-refused-then-more"] = b"\x02" + messages["login-refused"] + messages["room-chat"]
    seeds["logging-in-all"] = b"\x04" + b"".join(messages.values())
    seeds["logged-in-split-frames"] = b"\x0f" + messages["join-room"] + messages["room-list"] + messages["user-address"]
    return seeds


# The distributed network -------------------------------------------------

(PARENT_BYTES, CHILD_BYTES, NEW_PARENT, NEW_CHILD, EMBEDDED, CANDIDATES, RESET, HALF_MINUTE, PARENT_CLOSES,
 CHILD_CLOSES) = range(10)


def step(kind, data=b""):
    return u8(kind) + u16(len(data)) + data


def d_frame(code, payload):
    return u32(len(payload) + 1) + u8(code) + payload


def d_level(level):
    return d_frame(4, i32(level))


def d_root(root):
    return d_frame(5, text(root))


def d_search(user, token, query):
    return d_frame(3, search_payload(user, token, query))


def candidates(names):
    return u32(len(names)) + b"".join(text(n) + u32(0x7F000001) + u32(2234 + i) for i, n in enumerate(names))


def dnet_seeds():
    parent = step(NEW_PARENT, b"p1") + step(PARENT_BYTES, d_level(2) + d_root(b"top"))
    return {
        "parent-and-children": parent + step(NEW_CHILD, b"k1") + step(NEW_CHILD, b"k2")
        + step(PARENT_BYTES, d_search(b"asker", 7, b"some song") + d_frame(0, b"") + d_frame(7, u32(3)))
        + step(CHILD_BYTES, d_frame(0, b"") + d_search(b"x", 1, b"y") + d_frame(7, u32(1))),
        "parent-moves": parent + step(NEW_CHILD, b"k1") + step(PARENT_BYTES, d_level(5))
        + step(PARENT_BYTES, d_root(b"summit")) + step(PARENT_BYTES, d_search(b"me", 1, b"own")),
        "parent-lost": parent + step(NEW_CHILD, b"k1") + step(PARENT_CLOSES) + step(NEW_CHILD, b"k2"),
        "parent-broken": parent + step(PARENT_BYTES, d_frame(4, b"\x01")),
        "parent-own-root": step(NEW_PARENT, b"p1") + step(PARENT_BYTES, d_level(1) + d_root(b"me")),
        "child-again": parent + step(NEW_CHILD, b"k1") + step(NEW_CHILD, b"k1") + step(CHILD_CLOSES)
        + step(CHILD_BYTES, d_frame(5, u32(99))),
        "candidates": step(CANDIDATES, candidates([b"c%d" % i for i in range(12)] + [b"me"]))
        + step(HALF_MINUTE, u32(90000)) + step(NEW_PARENT, b"c3") + step(NEW_PARENT, b"c4"),
        "server-searches": step(EMBEDDED, u8(3) + search_payload(b"asker", 9, b"blue"))
        + step(EMBEDDED, u8(4) + i32(7)) + step(EMBEDDED) + parent + step(NEW_CHILD, b"k1")
        + step(EMBEDDED, u8(3) + search_payload(b"far", 4, b"q")),
        "reset": parent + step(NEW_CHILD, b"k1") + step(RESET) + step(CANDIDATES, candidates([b"c0"])),
        "silent-parent": parent + step(HALF_MINUTE, u32(600000)) + step(HALF_MINUTE, u32(1)),
    }


# The data file -----------------------------------------------------------

def section(name, null, items):
    body = text(name) + u8(1 if null else 0) + u32(len(items))
    for item in items:
        body += u8(item) if null else text(item)
    return body


def data_file(sections, connections):
    return (u32(len(sections)) + b"".join(sections) + u32(len(connections))
            + b"".join(u32(a) + u32(b) for a, b in connections))


def data_file_seeds():
    # Ids run over the sections in order.
    settings = [section(b"global", False, [b"username", b"password"]), section(b"global_value", False, [b"me", b"pw"])]
    full = settings + [
        section(b"listed", True, [0, 0]),                        # 4, 5
        section(b"contact", False, [b"ann", b"bob"]),            # 6, 7
        section(b"group", False, [b"friends", b"work"]),         # 8, 9
        section(b"priority", False, [b"3"]),                     # 10
        section(b"note", False, [b"met at work"]),               # 11
        section(b"autojoin", True, [1]),                         # 12
        section(b"room", False, [b"lobby", b"jazz"]),            # 13, 14
        section(b"peer", False, [b"a", b"b", b"c"]),             # 15, 16, 17
    ]
    full_connections = [(0, 2), (1, 3), (6, 4), (7, 5), (4, 8), (5, 8), (5, 9), (8, 10), (9, 10), (11, 6),
                        (13, 12), (14, 12), (13, 6), (15, 16), (16, 17), (17, 15)]
    odd = settings + [
        section(b"stranger", False, [b"x"]),                     # 4: an unknown type
        section(b"autojoin", False, [b"not null"]),              # 5: null type saved as valued
        section(b"contact", False, [b"ann", b"ann"]),            # 6, 7: one value twice
        section(b"listed", True, [0, 1]),                        # 8, 9
        section(b"global_value", False, [b"other"]),             # 10: a second value for a One end
    ]
    odd_connections = [(0, 2), (0, 10), (4, 6), (5, 6), (6, 7), (6, 8), (7, 9), (2, 6), (3, 3)]
    return {
        "empty": data_file([], []),
        "settings": data_file(settings, [(0, 2), (1, 3)]),
        "every-shape": data_file(full, full_connections),
        "odd-records": data_file(odd, odd_connections),
    }


def main():
    root = pathlib.Path(__file__).resolve().parent / "corpus"
    targets = {
        "peer_message": peer_seeds(),
        "server_message": server_seeds(),
        "dnet": dnet_seeds(),
        "data_file": data_file_seeds(),
        "received_files": received_files_seeds(),
    }
    for target, seeds in targets.items():
        folder = root / target
        folder.mkdir(parents=True, exist_ok=True)
        for name, data in seeds.items():
            (folder / name).write_bytes(data)


if __name__ == "__main__":
    main()
