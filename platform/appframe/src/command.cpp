#include "appframe/command.h"

namespace appf {

void MenuCmdUI::Enable(bool on) {
  CmdUI::Enable(on);
  EnableMenuItem(menu_, position_, MF_BYPOSITION | (on ? MF_ENABLED : MF_GRAYED));
}

void MenuCmdUI::SetCheck(bool on) {
  CmdUI::SetCheck(on);
  CheckMenuItem(menu_, position_, MF_BYPOSITION | (on ? MF_CHECKED : MF_UNCHECKED));
}

void MenuCmdUI::SetText(const std::wstring& text) {
  CmdUI::SetText(text);
  MENUITEMINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = MIIM_STRING;
  info.dwTypeData = const_cast<wchar_t*>(text.c_str());
  SetMenuItemInfoW(menu_, position_, TRUE, &info);
}

bool CommandTarget::RunCommand(UINT id) {
  auto it = commands_.find(id);
  if (it == commands_.end()) return false;
  auto run = it->second;  // the handler may replace itself
  run();
  return true;
}

bool CommandTarget::RunUpdate(CmdUI& ui) const {
  auto it = updates_.find(ui.Id());
  if (it == updates_.end()) return false;
  it->second(ui);
  return true;
}

bool RouteCommand(const std::vector<CommandTarget*>& route, UINT id) {
  for (CommandTarget* target : route)
    if (target && target->RunCommand(id)) return true;
  return false;
}

bool RouteEnabledCommand(const std::vector<CommandTarget*>& route, UINT id) {
  CmdUI test(id);
  RouteUpdate(route, test);
  return test.Enabled() && RouteCommand(route, id);
}

void RouteUpdate(const std::vector<CommandTarget*>& route, CmdUI& ui) {
  for (CommandTarget* target : route)
    if (target && target->RunUpdate(ui)) return;
  bool handled = false;
  for (CommandTarget* target : route) handled = handled || (target && target->HasCommand(ui.Id()));
  ui.Enable(handled);
}

void UpdateMenuItems(const std::vector<CommandTarget*>& route, HMENU menu) {
  int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    UINT id = GetMenuItemID(menu, i);
    if (id == static_cast<UINT>(-1) || id == 0) continue;
    MenuCmdUI ui(menu, static_cast<UINT>(i), id);
    RouteUpdate(route, ui);
  }
}

}  // namespace appf
