// Commands by id: each target (view, document, frame, application) keeps a
// table of command handlers and of update handlers, and a route asks the
// targets in order; the first one with a handler runs it alone.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace appf {

// What an update handler sets on the item of one command id: a menu item
// as the menu opens, or a status bar pane while the program is idle.
class CmdUI {
 public:
  explicit CmdUI(UINT id) : id_(id) {}
  virtual ~CmdUI() = default;
  UINT Id() const { return id_; }
  virtual void Enable(bool on) { enabled_ = on; }
  virtual void SetCheck(bool on) { checked_ = on; }
  virtual void SetText(const std::wstring& text) { text_ = text; }
  bool Enabled() const { return enabled_; }
  bool Checked() const { return checked_; }
  const std::wstring& Text() const { return text_; }

 private:
  UINT id_;
  bool enabled_ = true;
  bool checked_ = false;
  std::wstring text_;
};

// One item of a popup menu, by position.
class MenuCmdUI : public CmdUI {
 public:
  MenuCmdUI(HMENU menu, UINT position, UINT id) : CmdUI(id), menu_(menu), position_(position) {}
  void Enable(bool on) override;
  void SetCheck(bool on) override;
  void SetText(const std::wstring& text) override;

 private:
  HMENU menu_;
  UINT position_;
};

class CommandTarget {
 public:
  using Update = std::function<void(CmdUI&)>;

  CommandTarget() = default;
  CommandTarget(const CommandTarget&) = delete;
  CommandTarget& operator=(const CommandTarget&) = delete;
  virtual ~CommandTarget() = default;

  // One handler per id; a later one replaces it.
  void OnCommand(UINT id, std::function<void()> run) { commands_[id] = std::move(run); }
  void OnUpdate(UINT id, Update update) { updates_[id] = std::move(update); }

  // This target's own tables: false when it has no handler for the id.
  bool RunCommand(UINT id);
  bool RunUpdate(CmdUI& ui) const;
  bool HasCommand(UINT id) const { return commands_.count(id) != 0; }

 private:
  std::map<UINT, std::function<void()>> commands_;
  std::map<UINT, Update> updates_;
};

// Runs the command at the first target that handles it; false when none
// does. Null targets are skipped.
bool RouteCommand(const std::vector<CommandTarget*>& route, UINT id);
// As RouteCommand, but a command whose update handler says it is disabled
// does not run (a menu, an accelerator or a button may be stale).
bool RouteEnabledCommand(const std::vector<CommandTarget*>& route, UINT id);
// The first target with an update handler for the id sets the item; with
// none, the item is enabled exactly when some target handles the command.
void RouteUpdate(const std::vector<CommandTarget*>& route, CmdUI& ui);
// Every command item of a popup menu (submenus and separators skipped).
void UpdateMenuItems(const std::vector<CommandTarget*>& route, HMENU menu);

}  // namespace appf

namespace appf {

// The framework's own command ids.
constexpr UINT kIdFileNew = 0xE100;
constexpr UINT kIdAppAbout = 0xE140;
constexpr UINT kIdAppExit = 0xE141;
constexpr UINT kIdHelp = 0xE146;
// The child id of a frame's client window (a view or a splitter).
constexpr UINT kIdPaneFirst = 0xE900;

}  // namespace appf
