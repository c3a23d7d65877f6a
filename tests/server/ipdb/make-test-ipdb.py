#!/usr/bin/env python3
"""Writes a small MaxMind DB (.mmdb) for tests from a CSV of networks, in the flat layout of DB-IP's
free city database: city, country_code, state1, state2, postcode, latitude, longitude, timezone.
One IPv6 tree holds both families (IPv4 networks under ::/96), as libmaxminddb expects.

Usage: make-test-ipdb.py NETWORKS.csv OUT.mmdb
CSV columns: network (CIDR), city, country_code, state1, latitude, longitude
"""
import csv
import ipaddress
import struct
import sys
import time


def control(type_number, size):
    """The control byte(s) of a field: its type and its payload size."""
    extended = type_number > 7
    head = 0 if extended else type_number << 5
    if size < 29:
        out = bytes([head | size])
        tail = b""
    elif size < 285:
        out = bytes([head | 29])
        tail = bytes([size - 29])
    elif size < 65821:
        out = bytes([head | 30])
        tail = struct.pack(">H", size - 285)
    else:
        out = bytes([head | 31])
        tail = struct.pack(">I", size - 65821)[1:]
    if extended:
        out += bytes([type_number - 7])
    return out + tail


class Unsigned:
    """An unsigned integer of the width the format asks for in a place (uint16, uint32, uint64)."""

    types = {16: 5, 32: 6, 64: 9}

    def __init__(self, bits, value):
        self.type_number = self.types[bits]
        self.value = value


def encode(value):
    if isinstance(value, str):
        data = value.encode("utf-8")
        return control(2, len(data)) + data
    if isinstance(value, float):
        return control(15, 4) + struct.pack(">f", value)
    if isinstance(value, bool):
        return control(14, int(value))
    if isinstance(value, Unsigned):
        data = value.value.to_bytes((value.value.bit_length() + 7) // 8, "big")
        return control(value.type_number, len(data)) + data
    if isinstance(value, dict):
        out = control(7, len(value))
        for key, item in value.items():
            out += encode(key) + encode(item)
        return out
    if isinstance(value, list):
        out = control(11, len(value))
        for item in value:
            out += encode(item)
        return out
    raise TypeError(type(value))


class Node:
    def __init__(self):
        self.children = [None, None]  # a Node, a data offset (int) or None


def main():
    source, target = sys.argv[1], sys.argv[2]
    root = Node()
    data = b""
    with open(source, newline="", encoding="utf-8") as file:
        for row in csv.DictReader(file):
            network = ipaddress.ip_network(row["network"])
            record = {
                "city": row["city"],
                "country_code": row["country_code"],
                "latitude": float(row["latitude"]),
                "longitude": float(row["longitude"]),
                "postcode": "",
                "state1": row["state1"],
                "state2": "",
                "timezone": "",
            }
            offset = len(data)
            data += encode(record)
            # An IPv4 address a.b.c.d is ::a.b.c.d in the IPv6 tree: the same number, 96 more bits.
            bits = int(network.network_address)
            length = network.prefixlen + (96 if network.version == 4 else 0)
            node = root
            for depth in range(length):
                bit = (bits >> (127 - depth)) & 1
                if depth == length - 1:
                    node.children[bit] = offset
                else:
                    child = node.children[bit]
                    if not isinstance(child, Node):
                        child = Node()
                        node.children[bit] = child
                    node = child

    nodes = []
    queue = [root]
    while queue:
        node = queue.pop(0)
        nodes.append(node)
        queue.extend(child for child in node.children if isinstance(child, Node))
    index = {id(node): i for i, node in enumerate(nodes)}
    count = len(nodes)

    def record(child):
        if child is None:
            return count
        if isinstance(child, Node):
            return index[id(child)]
        return count + 16 + child

    tree = b""
    for node in nodes:
        for child in node.children:
            tree += record(child).to_bytes(3, "big")

    metadata = {
        "binary_format_major_version": Unsigned(16, 2),
        "binary_format_minor_version": Unsigned(16, 0),
        "build_epoch": Unsigned(64, int(time.time())),
        "database_type": "dbip-city-test",
        "description": {"en": "Nimbara test networks"},
        "ip_version": Unsigned(16, 6),
        "languages": ["en"],
        "node_count": Unsigned(32, count),
        "record_size": Unsigned(16, 24),
    }
    with open(target, "wb") as out:
        out.write(tree + bytes(16) + data + b"\xab\xcd\xefMaxMind.com" + encode(metadata))


if __name__ == "__main__":
    main()
