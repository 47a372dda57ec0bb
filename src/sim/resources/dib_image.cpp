// DIB decoding: every size comes from the header and is checked against the bytes
// before a row is read; images larger than any screen are refused outright.
#include "sim/resources/dib_image.h"

#include <cstdlib>

#include "sim/resources/name_or_ordinal.h"

namespace sim {

namespace {

constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_BITFIELDS = 3;
constexpr std::int32_t largestSide = 4096;

struct Header {
    std::uint32_t headerSize = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t coloursUsed = 0;
};

bool readHeader(BoundedReader& in, Header& h) {
    std::uint32_t width, height, sizeImage, xPerMeter, yPerMeter, important;
    if (!in.u32(h.headerSize) || h.headerSize < 40) return false;
    if (!in.u32(width) || !in.u32(height) || !in.u16(h.planes) || !in.u16(h.bitCount) || !in.u32(h.compression) ||
        !in.u32(sizeImage) || !in.u32(xPerMeter) || !in.u32(yPerMeter) || !in.u32(h.coloursUsed) || !in.u32(important))
        return false;
    h.width = static_cast<std::int32_t>(width);
    h.height = static_cast<std::int32_t>(height);
    // Larger headers (V4, V5) carry colour-space fields this reader does not need.
    return in.skip(h.headerSize - 40);
}

int lowestBit(std::uint32_t mask) {
    int shift = 0;
    while (shift < 32 && !(mask & (1u << shift))) ++shift;
    return shift;
}

// A masked channel scaled to 8 bits.
std::uint32_t channel(std::uint32_t value, std::uint32_t mask) {
    if (mask == 0) return 0;
    int shift = lowestBit(mask);
    std::uint32_t field = (value & mask) >> shift;
    std::uint32_t maximum = mask >> shift;
    return (field * 255 + maximum / 2) / maximum;
}

// Decodes `rows` rows of the colour image, `in` at the header's start.
bool decodeRows(BoundedReader& in, const Header& h, int rows, DibImage& out, std::size_t& bitsEnd) {
    if (h.planes != 1 || h.width <= 0 || h.width > largestSide || rows == 0 || rows < -largestSide ||
        rows > largestSide)
        return false;
    const int bits = h.bitCount;
    std::uint32_t masks[3] = {0, 0, 0};
    std::vector<std::uint32_t> palette;
    if (h.compression == BI_BITFIELDS && (bits == 16 || bits == 32)) {
        // With the plain 40-byte header the three masks follow it; larger headers hold them.
        if (h.headerSize == 40 && (!in.u32(masks[0]) || !in.u32(masks[1]) || !in.u32(masks[2]))) return false;
        if (h.headerSize > 40) return false;
    } else if (h.compression != BI_RGB) {
        return false;
    } else if (bits == 16) {
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    } else if (bits == 32 || bits == 24) {
        masks[0] = 0xFF0000, masks[1] = 0x00FF00, masks[2] = 0x0000FF;
    } else if (bits == 1 || bits == 4 || bits == 8) {
        std::uint32_t entries = h.coloursUsed ? h.coloursUsed : (1u << bits);
        if (entries > (1u << bits)) return false;
        palette.resize(entries);
        for (std::uint32_t& colour : palette) {
            if (!in.u32(colour)) return false;
            colour = 0xFF000000u | (colour & 0xFFFFFF);
        }
    } else {
        return false;
    }

    const bool topDown = rows < 0;
    const int height = std::abs(rows);
    const std::size_t stride = (static_cast<std::size_t>(h.width) * static_cast<std::size_t>(bits) + 31) / 32 * 4;
    if (in.remaining() / stride < static_cast<std::size_t>(height)) return false;
    const std::uint8_t* base = in.here();
    bitsEnd = in.offset() + stride * static_cast<std::size_t>(height);

    out.width = h.width;
    out.height = height;
    out.pixels.assign(static_cast<std::size_t>(h.width) * static_cast<std::size_t>(height), 0);
    for (int row = 0; row < height; ++row) {
        const std::uint8_t* line = base + stride * static_cast<std::size_t>(row);
        std::uint32_t* target = &out.pixels[static_cast<std::size_t>(topDown ? row : height - 1 - row) * h.width];
        for (int x = 0; x < h.width; ++x) {
            std::uint32_t colour;
            if (bits <= 8) {
                std::size_t bit = static_cast<std::size_t>(x) * bits;
                std::uint32_t index = (line[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                if (index >= palette.size()) return false;
                colour = palette[index];
            } else {
                const std::uint8_t* p = line + static_cast<std::size_t>(x) * (bits / 8);
                std::uint32_t value = 0;
                for (int i = bits / 8 - 1; i >= 0; --i) value = (value << 8) | p[i];
                colour = 0xFF000000u | channel(value, masks[0]) << 16 | channel(value, masks[1]) << 8 |
                         channel(value, masks[2]);
            }
            target[x] = colour;
        }
    }
    return true;
}

}  // namespace

bool decodeDib(const void* bytes, std::size_t size, DibImage& out) {
    if (!bytes) return false;
    BoundedReader in(bytes, size);
    Header h;
    std::size_t end;
    return readHeader(in, h) && decodeRows(in, h, h.height, out, end);
}

bool decodeIconImage(const void* bytes, std::size_t size, DibImage& out) {
    if (!bytes) return false;
    BoundedReader in(bytes, size);
    Header h;
    if (!readHeader(in, h) || h.height <= 0 || h.height % 2 != 0) return false;
    const int height = h.height / 2;
    std::size_t colourEnd;
    if (!decodeRows(in, h, height, out, colourEnd)) return false;
    // The AND mask: one bit per pixel, bottom-up, set where the icon is transparent.
    BoundedReader mask(bytes, size);
    const std::size_t stride = (static_cast<std::size_t>(h.width) + 31) / 32 * 4;
    if (!mask.skip(colourEnd) || mask.remaining() / stride < static_cast<std::size_t>(height)) return false;
    for (int row = 0; row < height; ++row) {
        const std::uint8_t* line = mask.here() + stride * static_cast<std::size_t>(row);
        std::uint32_t* target = &out.pixels[static_cast<std::size_t>(height - 1 - row) * out.width];
        for (int x = 0; x < out.width; ++x) {
            if (line[x / 8] & (0x80 >> (x % 8))) target[x] &= 0x00FFFFFF;
        }
    }
    return true;
}

int chooseGroupIcon(const void* bytes, std::size_t size, int wantedSize) {
    if (!bytes) return -1;
    BoundedReader in(bytes, size);
    std::uint16_t reserved, type, count;
    if (!in.u16(reserved) || !in.u16(type) || !in.u16(count) || type != 1) return -1;
    int best = -1, bestDistance = 0, bestBits = 0;
    for (std::uint16_t i = 0; i < count; ++i) {
        // Width, height, colours and a reserved byte; planes, bits, bytes, id.
        std::uint32_t sizes, bytesInResource;
        std::uint16_t planes, bitCount, id;
        if (!in.u32(sizes) || !in.u16(planes) || !in.u16(bitCount) || !in.u32(bytesInResource) || !in.u16(id))
            return -1;
        int width = sizes & 0xFF;
        if (width == 0) width = 256;
        int distance = std::abs(width - wantedSize);
        if (best < 0 || distance < bestDistance || (distance == bestDistance && bitCount > bestBits)) {
            best = id, bestDistance = distance, bestBits = bitCount;
        }
    }
    return best;
}

}  // namespace sim
