"""Reads what the release checks need from a 32-bit PE image: the headers,
the sections, imports, exports, the version resource and dialog templates.
Plain struct reads of the file, so the checks do not depend on how a tool
prints them."""

import struct

DIR_EXPORT, DIR_IMPORT, DIR_RESOURCE, DIR_DEBUG = 0, 1, 2, 6
RT_DIALOG, RT_VERSION = 5, 16


class PeError(Exception):
    pass


class Section:
    def __init__(self, name, vaddr, vsize, raw_ptr, raw_size):
        self.name, self.vaddr, self.vsize = name, vaddr, vsize
        self.raw_ptr, self.raw_size = raw_ptr, raw_size


class PeImage:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PeError("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        (self.machine, nsections, self.timestamp, self.symbol_table,
         self.symbol_count, opt_size, self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        if self.u16(opt) != 0x10B:
            raise PeError("not a PE32 image")
        self.checksum_offset = opt + 64
        self.checksum = self.u32(self.checksum_offset)
        self.subsystem = self.u16(opt + 68)
        count = self.u32(opt + 92)
        self.directories = [struct.unpack_from("<II", data, opt + 96 + 8 * i) for i in range(count)]
        self.sections = []
        table = opt + opt_size
        for i in range(nsections):
            raw_name, vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append(Section(self.section_name(raw_name), vaddr, vsize, raw_ptr, raw_size))

    def u16(self, off):
        return struct.unpack_from("<H", self.data, off)[0]

    def u32(self, off):
        return struct.unpack_from("<I", self.data, off)[0]

    def section_name(self, raw):
        name = raw.rstrip(b"\0").decode("latin-1")
        # Names longer than eight characters live in the string table after the symbols.
        if name.startswith("/") and name[1:].isdigit():
            strings = self.symbol_table + 18 * self.symbol_count
            start = strings + int(name[1:])
            name = self.data[start:self.data.index(b"\0", start)].decode("latin-1")
        return name

    def offset(self, rva):
        for s in self.sections:
            if s.vaddr <= rva < s.vaddr + max(s.vsize, s.raw_size):
                return s.raw_ptr + rva - s.vaddr
        raise PeError("address 0x%x lies in no section" % rva)

    def cstring(self, rva):
        off = self.offset(rva)
        return self.data[off:self.data.index(b"\0", off)].decode("latin-1")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def computed_checksum(self):
        """The image checksum as the Windows loader computes it: 16-bit sums with
        the carry folded in, the checksum field itself left out, plus the length."""
        data = bytearray(self.data)
        data[self.checksum_offset:self.checksum_offset + 4] = b"\0\0\0\0"
        if len(data) % 2:
            data.append(0)
        total = sum(struct.unpack("<%dH" % (len(data) // 2), data))
        while total >> 16:
            total = (total & 0xFFFF) + (total >> 16)
        return total + len(self.data)

    def imports(self):
        """[(dll name in lower case, function name or '#ordinal')], and the time
        stamps of the import descriptors."""
        rva, size = self.directory(DIR_IMPORT)
        result, stamps = [], []
        if not rva:
            return result, stamps
        desc = self.offset(rva)
        while True:
            lookup, stamp, _, name_rva, thunks = struct.unpack_from("<IIIII", self.data, desc)
            if not name_rva:
                break
            dll = self.cstring(name_rva).lower()
            stamps.append(stamp)
            entry = self.offset(lookup or thunks)
            while True:
                value = self.u32(entry)
                if not value:
                    break
                if value & 0x80000000:
                    result.append((dll, "#%d" % (value & 0xFFFF)))
                else:
                    result.append((dll, self.cstring(value + 2)))
                entry += 4
            desc += 20
        return result, stamps

    def exports(self):
        """({name: ordinal}, time stamp of the export directory)."""
        rva, _ = self.directory(DIR_EXPORT)
        if not rva:
            return {}, 0
        off = self.offset(rva)
        stamp = self.u32(off + 4)
        base, _, nnames, _, names_rva, ordinals_rva = struct.unpack_from("<IIIIII", self.data, off + 16)
        names, ordinals = self.offset(names_rva), self.offset(ordinals_rva)
        result = {}
        for i in range(nnames):
            result[self.cstring(self.u32(names + 4 * i))] = base + self.u16(ordinals + 2 * i)
        return result, stamp

    def resources(self):
        """[(type, name, language, bytes)] and the time stamps of every
        resource directory table. Types and names are numbers or strings."""
        rva, _ = self.directory(DIR_RESOURCE)
        found, stamps = [], []
        if not rva:
            return found, stamps
        root = self.offset(rva)

        def walk(table, path):
            stamps.append(self.u32(table + 4))
            named, numbered = struct.unpack_from("<HH", self.data, table + 12)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, table + 16 + 8 * i)
                if ident & 0x80000000:
                    at = root + (ident & 0x7FFFFFFF)
                    key = self.data[at + 2:at + 2 + 2 * self.u16(at)].decode("utf-16-le")
                else:
                    key = ident
                if target & 0x80000000:
                    walk(root + (target & 0x7FFFFFFF), path + [key])
                else:
                    data_rva, size = struct.unpack_from("<II", self.data, root + target)
                    start = self.offset(data_rva)
                    found.append(tuple(path + [key]) + (self.data[start:start + size],))

        walk(root, [])
        return found, stamps

    def resource(self, rtype, name):
        for t, n, _, blob in self.resources()[0]:
            if t == rtype and n == name:
                return blob
        raise PeError("no resource %s/%s" % (rtype, name))


def version_strings(blob):
    """The StringFileInfo values of a VS_VERSIONINFO resource, as {key: text}."""
    values = {}

    def node(at, end, depth):
        while at + 6 <= end:
            length, value_length, is_text = struct.unpack_from("<HHH", blob, at)
            if length == 0:
                break
            key_end = at + 6
            while blob[key_end:key_end + 2] != b"\0\0":
                key_end += 2
            key = blob[at + 6:key_end].decode("utf-16-le")
            value_at = (key_end + 2 + 3) & ~3
            if depth == 3 and is_text:
                values[key] = blob[value_at:value_at + 2 * value_length].decode("utf-16-le").rstrip("\0")
            elif key in ("VS_VERSION_INFO", "StringFileInfo") or depth == 2:
                skip = value_length if key == "VS_VERSION_INFO" else 0
                node((value_at + skip + 3) & ~3, at + length, depth + 1)
            at = (at + length + 3) & ~3

    node(0, len(blob), 0)
    return values


def dialog_texts(blob):
    """Caption and controls of an extended dialog template:
    (caption, [(control id, class, text)]). Classes given by ordinal are named."""
    classes = {0x80: "button", 0x81: "edit", 0x82: "static", 0x83: "listbox", 0x84: "scrollbar", 0x85: "combobox"}
    if struct.unpack_from("<HH", blob, 0) != (1, 0xFFFF):
        raise PeError("not an extended dialog template")
    style = struct.unpack_from("<I", blob, 12)[0]
    count = struct.unpack_from("<H", blob, 16)[0]
    at = 26

    def text_or_ordinal(at):
        if blob[at:at + 2] == b"\xff\xff":
            return struct.unpack_from("<H", blob, at + 2)[0], at + 4
        end = at
        while blob[end:end + 2] != b"\0\0":
            end += 2
        return blob[at:end].decode("utf-16-le"), end + 2

    _, at = text_or_ordinal(at)  # menu
    _, at = text_or_ordinal(at)  # window class
    caption, at = text_or_ordinal(at)
    if style & 0x40:  # DS_SETFONT: size, weight, italic, charset, face name
        _, at = text_or_ordinal(at + 6)
    controls = []
    for _ in range(count):
        at = (at + 3) & ~3
        control_id = struct.unpack_from("<i", blob, at + 20)[0]
        cls, at = text_or_ordinal(at + 24)
        text, at = text_or_ordinal(at)
        extra = struct.unpack_from("<H", blob, at)[0]
        at += 2 + extra
        controls.append((control_id, classes.get(cls, cls) if isinstance(cls, int) else cls.lower(), text))
    return caption, controls
