# Makes the damaged AES archives of this folder (see README.md) from one
# ziptool archive: python3 make.py, run in this folder.
import hashlib, os, struct, subprocess, sys, tempfile

TEXT = (b"The quick brown fox jumps over the lazy dog. " * 6)[:200]

def base():
    with tempfile.TemporaryDirectory() as d:
        src = os.path.join(d, "book.txt")
        open(src, "wb").write(TEXT)
        z = os.path.join(d, "z.zip")
        subprocess.check_call(["ziptool", "-n", z, "add_file", "book.txt", src, "0", "0",
                               "set_file_compression", "0", "store", "0",
                               "set_file_encryption", "0", "AES-256", "SECRET"])
        return bytearray(open(z, "rb").read())

def fields(b):
    """Offsets: local header, its 0x9901 data, data start, central header, its 0x9901 data."""
    assert b[:4] == b"PK\x03\x04"
    nl, el = struct.unpack_from("<HH", b, 26)
    lx = 30 + nl
    def find9901(start, length):
        p = start
        while p < start + length:
            hid, sz = struct.unpack_from("<HH", b, p)
            if hid == 0x9901:
                return p
            p += 4 + sz
        raise SystemExit("no 0x9901")
    la = find9901(lx, el)
    data = lx + el
    c = b.rfind(b"PK\x01\x02")
    cnl, cel = struct.unpack_from("<HH", b, c + 28)
    ca = find9901(c + 46 + cnl, cel)
    return la, data, c, ca

def both(b, local_off, central_off, fmt, value):
    struct.pack_into(fmt, b, local_off, value)
    struct.pack_into(fmt, b, central_off, value)

def write(name, b):
    open(name, "wb").write(bytes(b))

b0 = base()
la, data, c, ca = fields(b0)
csize = struct.unpack_from("<I", b0, 18)[0]
salt = bytes(b0[data:data + 16])

def variant(name, fn):
    b = bytearray(b0)
    fn(b)
    write(name, b)

# 0x9901 data: version +0, vendor +2, strength +4, method +5 (after the 4-byte header)
variant("ae1.zip", lambda b: both(b, la + 4, ca + 4, "<H", 1))
def ae1_bad_crc(b):
    both(b, la + 4, ca + 4, "<H", 1)
    both(b, 14, c + 16, "<I", struct.unpack_from("<I", b, 14)[0] ^ 1)
variant("ae1-bad-crc.zip", ae1_bad_crc)
variant("no-aes-field.zip", lambda b: both(b, la, ca, "<H", 0xCAFE))
def short_field(b):
    for p in (la, ca):
        struct.pack_into("<HH", b, p, 0x9901, 3)
        struct.pack_into("<HH", b, p + 7, 0xCAFE, 0)
variant("aes-field-short.zip", short_field)
variant("aes-vendor-not-ae.zip", lambda b: both(b, la + 6, ca + 6, "<H", 0x5841))
variant("aes-strength-0.zip", lambda b: both(b, la + 8, ca + 8, "<B", 0))
variant("aes-strength-4.zip", lambda b: both(b, la + 8, ca + 8, "<B", 4))
variant("aes-flag-clear.zip", lambda b: both(b, 6, c + 8, "<H", 0))
variant("aes-too-short.zip", lambda b: both(b, 18, c + 20, "<I", 27))
variant("aes-actual-method-9.zip", lambda b: both(b, la + 9, ca + 9, "<H", 9))
variant("aes-actual-method-12.zip", lambda b: both(b, la + 9, ca + 9, "<H", 12))
def wrong_verifier(b):
    dk = hashlib.pbkdf2_hmac("sha1", b"WRONG", salt, 1000, 66)
    b[data + 16:data + 18] = dk[64:66]
variant("aes-verifier-of-WRONG.zip", wrong_verifier)
def flip(at):
    def fn(b):
        b[at] ^= 0x10
    return fn
end = data + csize
variant("flip-salt.zip", flip(data + 5))
variant("flip-verifier.zip", flip(data + 17))
variant("flip-first-byte.zip", flip(data + 18))
variant("flip-middle-byte.zip", flip(data + 18 + 100))
variant("flip-last-byte.zip", flip(end - 11))
variant("flip-mac.zip", flip(end - 4))
