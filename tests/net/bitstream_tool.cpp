// Drives BitStream from text so an independent encoder/decoder can check its bits.
//
// Each input line is one case; each output line answers it.
//   W <op>...            write the ops into a fresh stream  -> "<bits> <hex>"
//   R <bits> <hex> <op>... read the ops from a stream of exactly <bits> bits over the bytes
//                        -> the values, then "END <cursor>"; or, at the first failing read,
//                           "FAIL <index> <cursor before> <cursor after>"
// Write ops: bit:B u8:N i8:N u16:N i16:N u32:N i32:N f32:H cu8:N ci8:N cu16:N ci16:N cu32:N ci32:N
//            cf:H vec:H,H,H quat:H,H,H,H raw:BITS:HEX rawl:BITS:HEX bytes:HEX abytes:HEX align
//            cbu:WIDTH:HEX cbs:WIDTH:HEX (compressed integer of any width, little-endian bytes)
// Read ops:  the same names without values (raw:BITS, bytes:N, abytes:N, cbu:WIDTH, cbs:WIDTH);
//            floats print as the 8 hex digits of their bits, byte runs as hex.
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "net/BitStream.h"

using velt::BitStream;

namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string ToHex(const uint8_t* bytes, size_t count) {
    std::string out;
    char two[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof(two), "%02x", bytes[i]);
        out += two;
    }
    return out;
}

float HexFloat(const std::string& hex) {
    return std::bit_cast<float>(uint32_t(std::stoul(hex, nullptr, 16)));
}

std::string FloatHex(float f) {
    char text[9];
    std::snprintf(text, sizeof(text), "%08x", std::bit_cast<uint32_t>(f));
    return text;
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, sep)) parts.push_back(part);
    return parts;
}

bool WriteOp(BitStream& bs, const std::string& op) {
    auto colon = op.find(':');
    std::string name = op.substr(0, colon);
    std::string arg = colon == std::string::npos ? "" : op.substr(colon + 1);
    long long n = 0;
    if (name != "f32" && name != "cf" && name != "vec" && name != "quat" && name != "raw" && name != "rawl" &&
        name != "bytes" && name != "abytes" && name != "align" && name != "cbu" && name != "cbs")
        n = std::stoll(arg);
    if (name == "bit")
        bs.Write(n != 0);
    else if (name == "u8")
        bs.Write(uint8_t(n));
    else if (name == "i8")
        bs.Write(int8_t(n));
    else if (name == "u16")
        bs.Write(uint16_t(n));
    else if (name == "i16")
        bs.Write(int16_t(n));
    else if (name == "u32")
        bs.Write(uint32_t(n));
    else if (name == "i32")
        bs.Write(int32_t(n));
    else if (name == "f32")
        bs.Write(HexFloat(arg));
    else if (name == "cu8")
        bs.WriteCompressed(uint8_t(n));
    else if (name == "ci8")
        bs.WriteCompressed(int8_t(n));
    else if (name == "cu16")
        bs.WriteCompressed(uint16_t(n));
    else if (name == "ci16")
        bs.WriteCompressed(int16_t(n));
    else if (name == "cu32")
        bs.WriteCompressed(uint32_t(n));
    else if (name == "ci32")
        bs.WriteCompressed(int32_t(n));
    else if (name == "cf")
        bs.WriteCompressed(HexFloat(arg));
    else if (name == "vec") {
        auto v = Split(arg, ',');
        bs.WriteCompressedVector(HexFloat(v.at(0)), HexFloat(v.at(1)), HexFloat(v.at(2)));
    } else if (name == "quat") {
        auto v = Split(arg, ',');
        bs.WriteCompressedQuaternion(HexFloat(v.at(0)), HexFloat(v.at(1)), HexFloat(v.at(2)),
                                     HexFloat(v.at(3)));
    } else if (name == "raw" || name == "rawl") {
        auto v = Split(arg, ':');
        auto bytes = FromHex(v.at(1));
        bs.WriteRawBits(bytes.data(), int32_t(std::stol(v.at(0))), name == "raw");
    } else if (name == "cbu" || name == "cbs") {
        auto v = Split(arg, ':');
        auto bytes = FromHex(v.at(1));
        bs.WriteCompressedBytes(bytes.data(), int32_t(std::stol(v.at(0))), name == "cbu");
    } else if (name == "bytes") {
        auto bytes = FromHex(arg);
        bs.WriteBytes(bytes.data(), int32_t(bytes.size()));
    } else if (name == "abytes") {
        auto bytes = FromHex(arg);
        bs.WriteBytesAligned(bytes.data(), int32_t(bytes.size()));
    } else if (name == "align")
        bs.AlignWriteToByte();
    else
        return false;
    return true;
}

// Reads one op; appends its value text to out. False when the read fails.
bool ReadOp(BitStream& bs, const std::string& op, std::string& out) {
    auto colon = op.find(':');
    std::string name = op.substr(0, colon);
    std::string arg = colon == std::string::npos ? "" : op.substr(colon + 1);
    char text[64];
    auto integer = [&](long long v) {
        std::snprintf(text, sizeof(text), "%lld", v);
        out = text;
    };
    if (name == "bit") {
        bool v;
        if (!bs.Read(v)) return false;
        integer(v);
    } else if (name == "u8") {
        uint8_t v;
        if (!bs.Read(v)) return false;
        integer(v);
    } else if (name == "i8") {
        int8_t v;
        if (!bs.Read(v)) return false;
        integer(v);
    } else if (name == "u16") {
        uint16_t v;
        if (!bs.Read(v)) return false;
        integer(v);
    } else if (name == "i16") {
        int16_t v;
        if (!bs.Read(v)) return false;
        integer(v);
    } else if (name == "u32") {
        uint32_t v;
        if (!bs.Read(v)) return false;
        integer(v);
    } else if (name == "i32") {
        int32_t v;
        if (!bs.Read(v)) return false;
        integer(v);
    } else if (name == "f32") {
        float v;
        if (!bs.Read(v)) return false;
        out = FloatHex(v);
    } else if (name == "cu8") {
        uint8_t v;
        if (!bs.ReadCompressed(v)) return false;
        integer(v);
    } else if (name == "ci8") {
        int8_t v;
        if (!bs.ReadCompressed(v)) return false;
        integer(v);
    } else if (name == "cu16") {
        uint16_t v;
        if (!bs.ReadCompressed(v)) return false;
        integer(v);
    } else if (name == "ci16") {
        int16_t v;
        if (!bs.ReadCompressed(v)) return false;
        integer(v);
    } else if (name == "cu32") {
        uint32_t v;
        if (!bs.ReadCompressed(v)) return false;
        integer(v);
    } else if (name == "ci32") {
        int32_t v;
        if (!bs.ReadCompressed(v)) return false;
        integer(v);
    } else if (name == "cf") {
        float v;
        if (!bs.ReadCompressed(v)) return false;
        out = FloatHex(v);
    } else if (name == "vec") {
        float x, y, z;
        if (!bs.ReadCompressedVector(x, y, z)) return false;
        out = FloatHex(x) + "," + FloatHex(y) + "," + FloatHex(z);
    } else if (name == "quat") {
        float w, x, y, z;
        if (!bs.ReadCompressedQuaternion(w, x, y, z)) return false;
        out = FloatHex(w) + "," + FloatHex(x) + "," + FloatHex(y) + "," + FloatHex(z);
    } else if (name == "raw") {
        int32_t bits = int32_t(std::stol(arg));
        std::vector<uint8_t> buf(size_t((bits + 7) / 8) + 1, 0xEE);
        if (!bs.ReadRawBits(buf.data(), bits, true)) return false;
        out = ToHex(buf.data(), size_t((bits + 7) / 8));
    } else if (name == "cbu" || name == "cbs") {
        int32_t width = int32_t(std::stol(arg));
        std::vector<uint8_t> buf(size_t(width / 8), 0xEE);
        if (!bs.ReadCompressedBytes(buf.data(), width, name == "cbu")) return false;
        out = ToHex(buf.data(), buf.size());
    } else if (name == "bytes" || name == "abytes") {
        int32_t count = int32_t(std::stol(arg));
        std::vector<uint8_t> buf(size_t(count) + 1, 0xEE);
        bool ok = name == "bytes" ? bs.ReadBytes(buf.data(), count) : bs.ReadAlignedBytes(buf.data(), count);
        if (!ok) return false;
        out = ToHex(buf.data(), size_t(count));
    } else {
        out = "?";
    }
    return true;
}

}  // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string kind;
        in >> kind;
        if (kind == "W") {
            BitStream bs;
            std::string op;
            bool ok = true;
            while (in >> op) ok = ok && WriteOp(bs, op);
            if (!ok) {
                std::printf("BADOP\n");
                continue;
            }
            std::printf("%d %s\n", bs.GetNumberOfBitsUsed(),
                        ToHex(bs.GetData(), size_t(bs.GetNumberOfBytesUsed())).c_str());
        } else if (kind == "R") {
            long bits = 0;
            std::string hex;
            in >> bits >> hex;
            if (hex == "-") hex.clear();
            auto bytes = FromHex(hex);
            // Read in place, as received data is; the stream ends exactly at <bits>.
            const uint8_t* view = bytes.empty() ? nullptr : bytes.data();
            BitStream bs(view, uint32_t(bytes.size()), false);
            bs.SetWriteCursor(int32_t(bits));
            std::string op, result;
            int index = 0;
            bool failed = false;
            while (in >> op) {
                std::string value;
                int32_t before = bs.GetReadOffset();
                if (!ReadOp(bs, op, value)) {
                    result += "FAIL " + std::to_string(index) + " " + std::to_string(before) + " " +
                              std::to_string(bs.GetReadOffset());
                    failed = true;
                    break;
                }
                result += value + " ";
                ++index;
            }
            if (!failed) result += "END " + std::to_string(bs.GetReadOffset());
            std::printf("%s\n", result.c_str());
        } else {
            std::printf("?\n");
        }
        std::fflush(stdout);
    }
    return 0;
}
