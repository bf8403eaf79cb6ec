"""What the dynamic loader reads of an ELF file: the libraries it needs, where it looks for
them (RUNPATH, RPATH) and the symbol versions it asks of each. Read through the program
headers, as the loader does, so that stripped files read the same. 64-bit little-endian
files only (x86-64); others report their machine and nothing else."""

import struct

PT_LOAD = 1
PT_DYNAMIC = 2
DT_NULL, DT_NEEDED, DT_STRTAB, DT_STRSZ, DT_SONAME, DT_RPATH, DT_RUNPATH = 0, 1, 5, 10, 14, 15, 29
DT_VERNEED, DT_VERNEEDNUM = 0x6FFFFFFE, 0x6FFFFFFF
EM_X86_64 = 62


def is_elf(path):
    try:
        with open(path, "rb") as f:
            return f.read(4) == b"\x7fELF"
    except OSError:
        return False


class ElfFile:
    """needed: DT_NEEDED names in order; runpath, rpath: their entries, or None when absent;
    soname; versions: {library: [version names asked of it]}; machine: e_machine;
    dynamic: whether it has a dynamic section at all."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self._data = f.read()
        data = self._data
        if data[:4] != b"\x7fELF":
            raise ValueError(f"{path}: not an ELF file")
        self.machine = struct.unpack_from("<H", data, 18)[0]
        self.needed = []
        self.runpath = None
        self.rpath = None
        self.soname = None
        self.versions = {}
        self.dynamic = False
        if data[4] != 2 or data[5] != 1:
            return
        phoff, = struct.unpack_from("<Q", data, 32)
        phentsize, phnum = struct.unpack_from("<HH", data, 54)
        self._loads = []
        dynamic = None
        for i in range(phnum):
            kind, _flags, offset, vaddr, _paddr, filesz, _memsz, _align = struct.unpack_from(
                "<IIQQQQQQ", data, phoff + i * phentsize)
            if kind == PT_LOAD:
                self._loads.append((vaddr, offset, filesz))
            elif kind == PT_DYNAMIC:
                dynamic = (offset, filesz)
        if dynamic is None:
            return
        self.dynamic = True
        entries = []
        offset, size = dynamic
        for at in range(offset, offset + size, 16):
            tag, value = struct.unpack_from("<qQ", data, at)
            if tag == DT_NULL:
                break
            entries.append((tag, value))
        tags = dict(entries)
        self._strtab = self._file_offset(tags[DT_STRTAB])
        for tag, value in entries:
            if tag == DT_NEEDED:
                self.needed.append(self._string(value))
            elif tag == DT_SONAME:
                self.soname = self._string(value)
            elif tag == DT_RUNPATH:
                self.runpath = self._string(value).split(":")
            elif tag == DT_RPATH:
                self.rpath = self._string(value).split(":")
        if DT_VERNEED in tags:
            self._read_verneed(self._file_offset(tags[DT_VERNEED]), tags.get(DT_VERNEEDNUM, 0))

    def _file_offset(self, address):
        for vaddr, offset, filesz in self._loads:
            if vaddr <= address < vaddr + filesz:
                return address - vaddr + offset
        raise ValueError(f"address {address:#x} lies in no loaded segment")

    def _string(self, index):
        start = self._strtab + index
        return self._data[start:self._data.index(b"\0", start)].decode()

    def _read_verneed(self, at, count):
        for _ in range(count):
            _version, aux_count, name, aux, following = struct.unpack_from("<HHIII", self._data, at)
            names = []
            aux_at = at + aux
            for _ in range(aux_count):
                _hash, _flags, _other, version, aux_next = struct.unpack_from(
                    "<IHHII", self._data, aux_at)
                names.append(self._string(version))
                aux_at += aux_next
            self.versions[self._string(name)] = names
            if not following:
                break
            at += following
