"""Deterministic file content, generated on the fly (never stored).

Generated content of seed S: byte at offset o is P[o mod 65521], where P is the
65521-byte pattern of S: x = S (32 bits); for j in 0..65520:
x = (x * 1103515245 + 12345) mod 2^32; P[j] = (x >> 16) & 0xFF.
The period is prime, so a body served from a wrong offset does not match.
"""

import functools
import hashlib

PERIOD = 65521
_CHUNK_PERIODS = 16  # about 1 MiB per generated chunk


@functools.lru_cache(maxsize=64)
def pattern(seed: int) -> bytes:
    x = seed & 0xFFFFFFFF
    out = bytearray(PERIOD)
    for j in range(PERIOD):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out[j] = (x >> 16) & 0xFF
    return bytes(out)


@functools.lru_cache(maxsize=64)
def _wide(seed: int) -> bytes:
    return pattern(seed) * (_CHUNK_PERIODS + 1)


def generate(seed: int, start: int, length: int):
    """Yield the bytes [start, start+length) of the content of seed, in chunks."""
    wide = _wide(seed)
    chunk = PERIOD * _CHUNK_PERIODS
    pos, end = start, start + length
    while pos < end:
        off = pos % PERIOD
        n = min(chunk, end - pos)
        yield wide[off:off + n]
        pos += n


def generated_bytes(seed: int, start: int, length: int) -> bytes:
    return b"".join(generate(seed, start, length))


def md5_generated(seed: int, size: int) -> str:
    h = hashlib.md5()
    for block in generate(seed, 0, size):
        h.update(block)
    return h.hexdigest()
