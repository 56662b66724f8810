// A real client library talks to the connection handler.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "test_support.h"

namespace x11 {
namespace {

using namespace testing_support;

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> owned(T* reply) {
  return Reply<T>(reply, &std::free);
}

TEST(XcbClient, OpensTheDisplayAndParsesEveryReply) {
  CapturedConsole console;
  ServedPair pair;
  xcb_connection_t* c = xcb_connect_to_fd(pair.release_client(), nullptr);
  ASSERT_EQ(xcb_connection_has_error(c), 0);

  const xcb_setup_t* setup = xcb_get_setup(c);
  EXPECT_EQ(setup->protocol_major_version, 11);
  EXPECT_EQ(std::string(xcb_setup_vendor(setup), static_cast<std::size_t>(xcb_setup_vendor_length(setup))),
            "The X.Org Foundation");
  ASSERT_EQ(xcb_setup_roots_length(setup), 1);
  const xcb_screen_t* screen = xcb_setup_roots_iterator(setup).data;
  EXPECT_EQ(screen->width_in_pixels, 1280);
  EXPECT_EQ(screen->height_in_pixels, 1024);
  EXPECT_EQ(screen->root, 0x50Du);
  EXPECT_EQ(screen->root_visual, 0x21u);
  EXPECT_EQ(screen->root_depth, 24);
  int visuals = 0;
  bool root_visual_is_true_color = false;
  for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
    visuals += xcb_depth_visuals_length(d.data);
    for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
      if (v.data->visual_id == screen->root_visual)
        root_visual_is_true_color = d.data->depth == 24 && v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR;
    }
  }
  EXPECT_EQ(visuals, 390);
  EXPECT_TRUE(root_visual_is_true_color);

  xcb_generic_error_t* error = nullptr;
  auto focus = owned(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), &error));
  ASSERT_TRUE(focus);
  EXPECT_EQ(focus->focus, XCB_INPUT_FOCUS_POINTER_ROOT);

  auto path = owned(xcb_get_font_path_reply(c, xcb_get_font_path(c), &error));
  ASSERT_TRUE(path);
  ASSERT_EQ(xcb_get_font_path_path_length(path.get()), 1);
  xcb_str_t* first = xcb_get_font_path_path_iterator(path.get()).data;
  EXPECT_EQ(std::string(xcb_str_name(first), xcb_str_name_length(first)), "built-ins");

  auto color = owned(xcb_alloc_color_reply(c, xcb_alloc_color(c, screen->default_colormap, 0x1234, 0xABCD, 0xFFFF),
                                           &error));
  ASSERT_TRUE(color);
  EXPECT_EQ(color->red, 0x1234);
  EXPECT_EQ(color->green, 0xABCD);
  EXPECT_EQ(color->blue, 0xFFFF);
  EXPECT_EQ(color->pixel, 0x12ABFFu);

  auto render = owned(xcb_query_extension_reply(c, xcb_query_extension(c, 6, "RENDER"), &error));
  ASSERT_TRUE(render);
  EXPECT_EQ(render->present, 1);
  EXPECT_EQ(render->major_opcode, 139);
  EXPECT_EQ(render->first_error, 142);
  auto missing = owned(xcb_query_extension_reply(c, xcb_query_extension(c, 5, "SHAPE"), &error));
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->present, 0);

  // The library's own BIG-REQUESTS negotiation: QueryExtension, then enable.
  EXPECT_EQ(xcb_get_maximum_request_length(c), 4194303u);

  // Requests without replies are accepted silently.
  const xcb_gcontext_t gc = xcb_generate_id(c);
  EXPECT_EQ(xcb_request_check(c, xcb_create_gc_checked(c, gc, screen->root, 0, nullptr)), nullptr);
  EXPECT_EQ(xcb_request_check(c, xcb_free_gc_checked(c, gc)), nullptr);
  EXPECT_EQ(xcb_connection_has_error(c), 0);

  xcb_disconnect(c);
  EXPECT_TRUE(pair.wait_closed());
  EXPECT_EQ(console.err(), "Client disconnected\n");
  EXPECT_NE(console.out().find("QueryExtension - not supported SHAPE\n"), std::string::npos);
}

}  // namespace
}  // namespace x11
