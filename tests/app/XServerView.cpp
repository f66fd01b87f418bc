#include "XServerView.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace quorvel::test {

namespace {

// xcb's replies are malloc'ed.
template <typename T>
using TReply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T>
TReply<T> Reply(T* AReply) {
  return TReply<T>(AReply, &std::free);
}

}  // namespace

TXServerView::TXServerView() {
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(connection)) {
    xcb_disconnect(connection);
    return;
  }
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
  if (!it.rem) {
    xcb_disconnect(connection);
    return;
  }
  FConnection = connection;
  FRoot = it.data->root;
}

TXServerView::~TXServerView() {
  if (FConnection) xcb_disconnect(FConnection);
}

std::vector<TXWindow> TXServerView::TopLevelWindows() {
  std::vector<TXWindow> windows;
  if (!FConnection) return windows;
  auto tree = Reply(xcb_query_tree_reply(FConnection, xcb_query_tree(FConnection, FRoot), nullptr));
  if (!tree) return windows;
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  const int count = xcb_query_tree_children_length(tree.get());
  for (int i = 0; i < count; ++i) {
    TXWindow window;
    window.Id = children[i];
    auto attributes = Reply(xcb_get_window_attributes_reply(
        FConnection, xcb_get_window_attributes(FConnection, children[i]), nullptr));
    if (!attributes) continue;  // gone meanwhile
    window.Viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    auto name = Reply(xcb_get_property_reply(
        FConnection,
        xcb_get_property(FConnection, 0, children[i], XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
        nullptr));
    if (name && xcb_get_property_value_length(name.get()) > 0)
      window.Name.assign(static_cast<const char*>(xcb_get_property_value(name.get())),
                         static_cast<size_t>(xcb_get_property_value_length(name.get())));
    windows.push_back(std::move(window));
  }
  return windows;
}

std::vector<TXWindow> TXServerView::NewWindows(const std::vector<TXWindow>& ABefore,
                                               const std::vector<TXWindow>& AAfter) {
  std::vector<TXWindow> added;
  for (const TXWindow& w : AAfter)
    if (std::none_of(ABefore.begin(), ABefore.end(), [&](const TXWindow& b) { return b.Id == w.Id; }))
      added.push_back(w);
  return added;
}

void TXServerView::Unmap(uint32_t AWindow) {
  xcb_unmap_window(FConnection, AWindow);
  Sync();
}

void TXServerView::Map(uint32_t AWindow) {
  xcb_map_window(FConnection, AWindow);
  Sync();
}

uint32_t TXServerView::Cover(int AX, int AY, int AWidth, int AHeight) {
  const xcb_window_t window = xcb_generate_id(FConnection);
  // Override-redirect: placed exactly where asked, above the others, as no
  // window manager runs under the test server.
  const uint32_t values[] = {0x404040u, 1u};
  xcb_create_window(FConnection, XCB_COPY_FROM_PARENT, window, FRoot, static_cast<int16_t>(AX),
                    static_cast<int16_t>(AY), static_cast<uint16_t>(AWidth), static_cast<uint16_t>(AHeight), 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                    XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
  xcb_map_window(FConnection, window);
  Sync();
  return window;
}

void TXServerView::Destroy(uint32_t AWindow) {
  xcb_destroy_window(FConnection, AWindow);
  Sync();
}

uint32_t TXServerView::Atom(const char* AName) {
  auto reply = Reply(xcb_intern_atom_reply(
      FConnection, xcb_intern_atom(FConnection, 0, static_cast<uint16_t>(std::strlen(AName)), AName), nullptr));
  return reply ? reply->atom : static_cast<uint32_t>(XCB_ATOM_NONE);
}

void TXServerView::AskToClose(uint32_t AWindow) {
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = AWindow;
  event.type = Atom("WM_PROTOCOLS");
  event.data.data32[0] = Atom("WM_DELETE_WINDOW");
  event.data.data32[1] = XCB_CURRENT_TIME;
  xcb_send_event(FConnection, 0, AWindow, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
  Sync();
}

bool TXServerView::RootPosition(uint32_t AWindow, int& AX, int& AY) {
  if (!FConnection) return false;
  xcb_translate_coordinates_reply_t* reply =
      xcb_translate_coordinates_reply(FConnection, xcb_translate_coordinates(FConnection, AWindow, FRoot, 0, 0), nullptr);
  if (!reply) return false;
  AX = reply->dst_x;
  AY = reply->dst_y;
  std::free(reply);
  return true;
}

void TXServerView::Sync() {
  if (!FConnection) return;
  // A round trip: every request before it has been handled.
  std::free(xcb_get_input_focus_reply(FConnection, xcb_get_input_focus(FConnection), nullptr));
}

}  // namespace quorvel::test
