#include "fileformat/handler_atom.h"

#include "fileformat/render.h"

namespace fileformat {

HandlerAtom::HandlerAtom(uint32_t handlerType, uint8_t version, uint32_t flags)
    : FullAtom(fourcc("hdlr"), version, flags) {
  SetHandlerType(handlerType);
}

void HandlerAtom::SetHandlerType(uint32_t handlerType) {
  static const struct {
    uint32_t type;
    const char* name;
  } kNames[] = {
      {fourcc("vide"), "VideoHandler"},    {fourcc("soun"), "SoundHandler"},
      {fourcc("odsm"), "ODHandler"},       {fourcc("sdsm"), "SceneDescHandler"},
      {fourcc("ocsm"), "ObjContentHandler"}, {fourcc("m7sm"), "Mpeg7Handler"},
      {fourcc("mjsm"), "Mpeg-JHandler"},   {fourcc("ipsm"), "IPHandler"},
      {fourcc("crsm"), "ClockRefHandler"}, {fourcc("hint"), "HintHandler"},
  };
  handlerType_ = handlerType;
  name_ = "UNKNOWNHandler";
  for (const auto& n : kNames) {
    if (n.type == handlerType) name_ = n.name;
  }
  recomputeSize();
}

void HandlerAtom::renderBody(std::ostream& out) const {
  writeU32(out, 0);
  writeU32(out, handlerType_);
  for (int i = 0; i < 3; ++i) writeU32(out, 0);
  writeStringZ(out, name_);
}

}  // namespace fileformat
