// The X server as another client sees it, for the window tests under Xvfb:
// the top-level windows (what a window manager would show), and the
// requests a window manager or the user sends to a window (unmap and map
// again as when minimised and restored, cover and uncover, close). A
// connection of its own, so that nothing goes through the program's Qt or
// SDL connections.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct xcb_connection_t;

namespace quorvel::test {

struct TXWindow {
  uint32_t Id = 0;
  bool Viewable = false;  // mapped, and so are its ancestors
  std::string Name;       // WM_NAME, empty when unset
};

class TXServerView {
public:
  // Connects to $DISPLAY; Connected() false when there is none.
  TXServerView();
  ~TXServerView();
  TXServerView(const TXServerView&) = delete;
  TXServerView& operator=(const TXServerView&) = delete;

  bool Connected() const { return FConnection != nullptr; }
  // The root window's children, bottom to top.
  std::vector<TXWindow> TopLevelWindows();
  // The windows of AAfter that are not in ABefore.
  static std::vector<TXWindow> NewWindows(const std::vector<TXWindow>& ABefore, const std::vector<TXWindow>& AAfter);

  void Unmap(uint32_t AWindow);
  void Map(uint32_t AWindow);
  // A plain window of another client over the rectangle (root coordinates);
  // its id. Destroy() takes it away again, uncovering what was below.
  uint32_t Cover(int AX, int AY, int AWidth, int AHeight);
  void Destroy(uint32_t AWindow);
  // WM_DELETE_WINDOW, as a window manager sends it for the caption's close
  // button.
  void AskToClose(uint32_t AWindow);
  // Where the window's top left corner is on the screen (root coordinates).
  bool RootPosition(uint32_t AWindow, int& AX, int& AY);
  // Waits until the server has handled every request sent so far.
  void Sync();

private:
  uint32_t Atom(const char* AName);

  xcb_connection_t* FConnection = nullptr;
  uint32_t FRoot = 0;
};

}  // namespace quorvel::test
