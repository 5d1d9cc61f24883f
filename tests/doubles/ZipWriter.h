#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillpost {

// Builds a zip archive in memory, stored without compression, with Unix modes, so a test can make
// exactly the entries it needs: symbolic links and names with ".." included.
class ZipWriter {
public:
    void file(const std::string& name, const std::string& data) { m_entries.push_back({ name, data, 0100644 }); }
    void symlink(const std::string& name, const std::string& target) { m_entries.push_back({ name, target, 0120777 }); }

    std::string bytes() const
    {
        std::string archive;
        std::string directory;
        for (const auto& entry : m_entries) {
            const auto offset = static_cast<std::uint32_t>(archive.size());
            const std::uint32_t crc = crc32(entry.data);
            const auto size = static_cast<std::uint32_t>(entry.data.size());
            const auto nameLength = static_cast<std::uint16_t>(entry.name.size());

            put32(archive, 0x04034b50);
            put16(archive, 10), put16(archive, 0), put16(archive, 0), put16(archive, 0), put16(archive, 0x21);
            put32(archive, crc), put32(archive, size), put32(archive, size);
            put16(archive, nameLength), put16(archive, 0);
            archive += entry.name;
            archive += entry.data;

            put32(directory, 0x02014b50);
            put16(directory, (3 << 8) | 30), put16(directory, 10), put16(directory, 0), put16(directory, 0);
            put16(directory, 0), put16(directory, 0x21);
            put32(directory, crc), put32(directory, size), put32(directory, size);
            put16(directory, nameLength), put16(directory, 0), put16(directory, 0), put16(directory, 0), put16(directory, 0);
            put32(directory, entry.mode << 16), put32(directory, offset);
            directory += entry.name;
        }
        const auto directoryOffset = static_cast<std::uint32_t>(archive.size());
        archive += directory;
        put32(archive, 0x06054b50);
        put16(archive, 0), put16(archive, 0);
        put16(archive, static_cast<std::uint16_t>(m_entries.size())), put16(archive, static_cast<std::uint16_t>(m_entries.size()));
        put32(archive, static_cast<std::uint32_t>(directory.size())), put32(archive, directoryOffset), put16(archive, 0);
        return archive;
    }

private:
    struct Entry {
        std::string name;
        std::string data;
        std::uint32_t mode;
    };

    static void put16(std::string& out, std::uint16_t value)
    {
        out.push_back(static_cast<char>(value & 0xFF));
        out.push_back(static_cast<char>(value >> 8));
    }
    static void put32(std::string& out, std::uint32_t value)
    {
        put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
        put16(out, static_cast<std::uint16_t>(value >> 16));
    }
    static std::uint32_t crc32(const std::string& data)
    {
        std::uint32_t crc = 0xFFFFFFFF;
        for (unsigned char byte : data) {
            crc ^= byte;
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
        return ~crc;
    }

    std::vector<Entry> m_entries;
};

}
