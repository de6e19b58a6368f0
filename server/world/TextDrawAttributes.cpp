#include "server/world/TextDrawAttributes.h"

#include "common/LittleEndian.h"
#include "net/BitStream.h"

namespace velt {

void TextDrawAttributes::SetAlignment(uint8_t alignment) {
    flags &= uint8_t(~(TEXTDRAW_ALIGN_LEFT | TEXTDRAW_ALIGN_RIGHT | TEXTDRAW_ALIGN_CENTRE));
    switch (alignment) {
        case 1: flags |= TEXTDRAW_ALIGN_LEFT; break;
        case 2: flags |= TEXTDRAW_ALIGN_CENTRE; break;
        case 3: flags |= TEXTDRAW_ALIGN_RIGHT; break;
        default: break;
    }
}

void TextDrawAttributes::Encode(uint8_t* out) const {
    out[0] = flags;
    WriteF32(out + 1, letterWidth);
    WriteF32(out + 5, letterHeight);
    WriteU32(out + 9, letterColour);
    WriteF32(out + 13, textSizeX);
    WriteF32(out + 17, textSizeY);
    WriteU32(out + 21, boxColour);
    out[25] = shadow;
    out[26] = outline;
    WriteU32(out + 27, backgroundColour);
    out[31] = font;
    out[32] = selectable;
    WriteF32(out + 33, x);
    WriteF32(out + 37, y);
    WriteU16(out + 41, uint16_t(previewModel));
    WriteF32(out + 43, previewRotX);
    WriteF32(out + 47, previewRotY);
    WriteF32(out + 51, previewRotZ);
    WriteF32(out + 55, previewZoom);
    WriteU16(out + 59, uint16_t(previewColour1));
    WriteU16(out + 61, uint16_t(previewColour2));
}

void WriteTextDrawShow(BitStream& bs, uint16_t wireId, const TextDraw& draw) {
    uint8_t record[TextDrawAttributes::kSize];
    draw.attributes.Encode(record);
    bs.Write(wireId);
    bs.WriteBytes(record, int32_t(sizeof record));
    bs.Write(uint16_t(draw.text.size()));
    bs.WriteBytes(draw.text.data(), int32_t(draw.text.size()));
}

void WriteTextDrawHide(BitStream& bs, uint16_t wireId) { bs.Write(wireId); }

void WriteTextDrawString(BitStream& bs, uint16_t wireId, const std::string& text) {
    bs.Write(wireId);
    bs.Write(uint16_t(text.size()));
    bs.WriteBytes(text.data(), int32_t(text.size()));
}

}  // namespace velt
