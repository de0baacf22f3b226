"""Reads what the tests need from a Windows executable: its subsystem, the DLLs it imports and
its resources, straight from the PE headers."""

import struct

RT_MANIFEST = 24
SUBSYSTEM_WINDOWS_GUI = 2


class PeFile:
    def __init__(self, path):
        with open(path, "rb") as file:
            self.data = file.read()
        header = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[header:header + 4] != b"PE\0\0":
            raise ValueError(f"{path} is not a PE file")
        sections, optional_size = struct.unpack_from("<H12xH", self.data, header + 6)
        self.optional = header + 24
        magic = struct.unpack_from("<H", self.data, self.optional)[0]
        self.directories = self.optional + (112 if magic == 0x20B else 96)
        table = self.optional + optional_size
        self.sections = [struct.unpack_from("<8xIIII", self.data, table + 40 * i)
                         for i in range(sections)]

    @property
    def subsystem(self):
        return struct.unpack_from("<H", self.data, self.optional + 68)[0]

    def _offset(self, rva):
        for virtual_size, address, raw_size, raw_offset in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return rva - address + raw_offset
        raise ValueError(f"address {rva:#x} lies in no section")

    def _directory(self, index):
        rva, size = struct.unpack_from("<II", self.data, self.directories + 8 * index)
        return (self._offset(rva), size) if rva else (None, 0)

    def _string(self, offset):
        return self.data[offset:self.data.index(b"\0", offset)].decode("ascii")

    def imported_dlls(self):
        """The names of the DLLs in the import table, lower-cased."""
        offset, _ = self._directory(1)
        names = []
        while offset is not None:
            name_rva = struct.unpack_from("<12xI", self.data, offset)[0]
            if name_rva == 0:
                break
            names.append(self._string(self._offset(name_rva)).lower())
            offset += 20
        return names

    def resources(self):
        """(type, name, language, bytes) for every resource; names and types are numbers or
        strings as stored."""
        root, _ = self._directory(2)
        if root is None:
            return []
        found = []

        def entries(directory):
            named, numbered = struct.unpack_from("<12xHH", self.data, directory)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
                if name & 0x80000000:
                    at = root + (name & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, at)[0]
                    name = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield name, target

        for kind, kind_target in entries(root):
            for name, name_target in entries(root + (kind_target & 0x7FFFFFFF)):
                for language, leaf in entries(root + (name_target & 0x7FFFFFFF)):
                    rva, size = struct.unpack_from("<II", self.data, root + leaf)
                    start = self._offset(rva)
                    found.append((kind, name, language, self.data[start:start + size]))
        return found
