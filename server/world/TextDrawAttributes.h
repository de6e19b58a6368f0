#pragma once

// The look of one text draw (global or a player's own) as clients receive it: a fixed 63-byte
// record, written field by field in little-endian order, and the three messages that carry text
// draws to a client. Colours are kept with their bytes reversed, so that the record's bytes run
// R, G, B, A whatever order the scripts use.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velt {

class BitStream;

// The longest text a text draw keeps; longer texts are cut.
inline constexpr size_t kMaxTextDrawText = 1024;

enum TextDrawFlag : uint8_t {
    TEXTDRAW_BOX = 1 << 0,
    TEXTDRAW_ALIGN_LEFT = 1 << 1,
    TEXTDRAW_ALIGN_RIGHT = 1 << 2,
    TEXTDRAW_ALIGN_CENTRE = 1 << 3,
    TEXTDRAW_PROPORTIONAL = 1 << 4,
};

// A script colour 0xRRGGBBAA as 0xAABBGGRR.
constexpr uint32_t ReverseColourBytes(uint32_t colour) {
    return (colour >> 24) | ((colour >> 8) & 0xFF00u) | ((colour << 8) & 0xFF0000u) | (colour << 24);
}

struct TextDrawAttributes {
    static constexpr size_t kSize = 63;

    uint8_t flags = TEXTDRAW_PROPORTIONAL;
    float letterWidth = 0.48f;
    float letterHeight = 1.12f;
    uint32_t letterColour = 0xFFE1E1E1;  // stored reversed, as every colour here
    float textSizeX = 1280.0f;
    float textSizeY = 1280.0f;
    uint32_t boxColour = 0x80808080;
    uint8_t shadow = 2;
    uint8_t outline = 0;
    uint32_t backgroundColour = 0xFF000000;
    uint8_t font = 1;
    uint8_t selectable = 0;
    float x = 0.0f;
    float y = 0.0f;
    int16_t previewModel = 0;
    float previewRotX = 0.0f;
    float previewRotY = 0.0f;
    float previewRotZ = 0.0f;
    float previewZoom = 1.0f;
    int16_t previewColour1 = -1;
    int16_t previewColour2 = -1;

    // 1 left, 2 centre, 3 right; any other value leaves the text draw without an alignment.
    void SetAlignment(uint8_t alignment);
    void SetFlag(uint8_t flag, bool on) { flags = on ? uint8_t(flags | flag) : uint8_t(flags & ~flag); }

    // Exactly kSize bytes.
    void Encode(uint8_t* out) const;
};

// One text draw: its record and its text, cut to kMaxTextDrawText.
struct TextDraw {
    TextDrawAttributes attributes;
    std::string text;

    void SetText(std::string_view newText) { text.assign(newText.substr(0, kMaxTextDrawText)); }
};

// The messages, for the id a client knows the text draw by.
void WriteTextDrawShow(BitStream& bs, uint16_t wireId, const TextDraw& draw);
void WriteTextDrawHide(BitStream& bs, uint16_t wireId);
void WriteTextDrawString(BitStream& bs, uint16_t wireId, const std::string& text);

}  // namespace velt
