#pragma once
// RAII owners for the GStreamer objects the playback engine holds. Elements made by a
// factory come with a floating reference: ownElement() sinks it, so that every element
// is owned the same way whether or not a bin takes it later.

#include <gst/gst.h>

#include <memory>

namespace tallowen {

struct GstObjectDeleter {
  void operator()(gpointer object) const { gst_object_unref(object); }
};
using ElementPtr = std::unique_ptr<GstElement, GstObjectDeleter>;
using BusPtr = std::unique_ptr<GstBus, GstObjectDeleter>;

struct GstQueryDeleter {
  void operator()(GstQuery* query) const { gst_query_unref(query); }
};
using QueryPtr = std::unique_ptr<GstQuery, GstQueryDeleter>;

struct GstCapsDeleter {
  void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
using CapsPtr = std::unique_ptr<GstCaps, GstCapsDeleter>;

struct GErrorDeleter {
  void operator()(GError* error) const { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorDeleter>;

struct GFreeDeleter {
  void operator()(gpointer memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

// An element of the named factory, or null when the plugin that provides it is missing.
inline ElementPtr ownElement(const char* factory, const char* name = nullptr) {
  GstElement* element = gst_element_factory_make(factory, name);
  return ElementPtr(element ? GST_ELEMENT(gst_object_ref_sink(element)) : nullptr);
}

}  // namespace tallowen
