// The in-memory dialog template a property sheet is made from, plain
// (DLGTEMPLATE) or extended (DLGTEMPLATEEX): finding an item and changing
// the sizes, before the system creates the sheet from it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace shell {

// Where the numbers of a template and of one item lie, as offsets from the
// template's start (each an int16 in dialog units).
struct TemplatePlaces {
  size_t dialogWidth, dialogHeight;
  size_t itemX, itemY, itemWidth, itemHeight;
};

// Finds the item of the id by walking the template (header fields, then
// items aligned to 4 bytes). size bounds the walk; false when the item is
// not there or the template ends first.
bool FindTemplateItem(const uint8_t* tmpl, size_t size, uint32_t id, TemplatePlaces* places);

// The Clips sheet's shape: the tab control (id 12320) at (4, 4), 145 x 80,
// and the dialog 104 high and 2 x (the tab's old x + 73) wide. False (and
// nothing changed) without a tab control.
constexpr uint32_t kSheetTabControl = 12320;
bool FitClipsSheetTemplate(uint8_t* tmpl, size_t size);

}  // namespace shell
