// Background music over a GStreamer playbin.  The end of the file is
// answered by a seek back to its start, so the music loops for as long as
// the list plays.  Nothing here may stop the show: an unreadable file, a
// missing decoder or a machine without a sound card only leave it silent.
#include "platform/background_music.h"

#include <gst/gst.h>

#include <QLoggingCategory>
#include <QObject>
#include <atomic>
#include <filesystem>

namespace {

// Off by default; QT_LOGGING_RULES="duoramic.music.debug=true" shows why
// the music is silent.
Q_LOGGING_CATEGORY(musicLog, "duoramic.music", QtInfoMsg)

// playbin's "flags": the video and subtitle parts of a music file (a cover
// picture, say) must not open windows of their own.
constexpr guint kPlayFlagVideo = 1u << 0;
constexpr guint kPlayFlagText = 1u << 2;

bool StreamerReady() {
  static const bool ready = [] {
    GError* error = nullptr;
    bool ok = gst_init_check(nullptr, nullptr, &error);
    if (!ok) {
      qCDebug(musicLog) << "GStreamer unavailable:"
                        << (error ? error->message : "unknown reason");
      g_clear_error(&error);
    }
    return ok;
  }();
  return ready;
}

class StreamerMusic : public BackgroundMusic {
 public:
  ~StreamerMusic() override { Close(); }

  bool Open(const std::string& path) override {
    Close();
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(path, ignored)) return false;
    if (!StreamerReady()) return false;
    playbin_ = gst_element_factory_make("playbin", nullptr);
    if (!playbin_) {
      qCDebug(musicLog) << "no playbin element";
      return false;
    }
    gst_object_ref_sink(playbin_);
    guint flags = 0;
    g_object_get(playbin_, "flags", &flags, nullptr);
    g_object_set(playbin_, "flags", flags & ~(kPlayFlagVideo | kPlayFlagText),
                 nullptr);
    gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
    if (!uri) {
      Close();
      return false;
    }
    g_object_set(playbin_, "uri", uri, nullptr);
    g_free(uri);
    GstBus* bus = gst_element_get_bus(playbin_);
    gst_bus_set_sync_handler(bus, &StreamerMusic::OnBusMessage, this, nullptr);
    gst_object_unref(bus);
    // Asynchronous: decoding errors arrive later as bus messages.
    if (gst_element_set_state(playbin_, GST_STATE_PLAYING) ==
        GST_STATE_CHANGE_FAILURE) {
      Close();
      return false;
    }
    return true;
  }

  void Pause() override {
    if (playbin_ && !failed_)
      gst_element_set_state(playbin_, GST_STATE_PAUSED);
  }

  void Resume() override {
    if (playbin_ && !failed_)
      gst_element_set_state(playbin_, GST_STATE_PLAYING);
  }

  void Close() override {
    ++generation_;  // answers queued for this file are ignored from now on
    failed_ = false;
    loops_ = 0;
    if (!playbin_) return;
    // Stopping joins the streaming threads; only then may the handler go.
    gst_element_set_state(playbin_, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(playbin_);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(playbin_);
    playbin_ = nullptr;
  }

 private:
  // Runs on whichever thread posts the message.  End and error are handed
  // to the GUI thread; everything is dropped here, since nobody pops the bus.
  static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message,
                                      gpointer data) {
    auto* self = static_cast<StreamerMusic*>(data);
    GstMessageType type = GST_MESSAGE_TYPE(message);
    if (type == GST_MESSAGE_ERROR) {
      GError* error = nullptr;
      gst_message_parse_error(message, &error, nullptr);
      qCDebug(musicLog) << "music stops:" << (error ? error->message : "");
      g_clear_error(&error);
    }
    if (type == GST_MESSAGE_EOS || type == GST_MESSAGE_ERROR) {
      unsigned generation = self->generation_;
      bool ended = type == GST_MESSAGE_EOS;
      QMetaObject::invokeMethod(
          &self->context_,
          [self, generation, ended] { self->OnStreamEnd(generation, ended); },
          Qt::QueuedConnection);
    }
    return GST_BUS_DROP;
  }

  void OnStreamEnd(unsigned generation, bool ended) {
    if (generation != generation_ || !playbin_ || failed_) return;
    if (ended) {
      auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH |
                                             GST_SEEK_FLAG_KEY_UNIT);
      gst_element_seek_simple(playbin_, GST_FORMAT_TIME, flags, 0);
      ++loops_;
      return;
    }
    failed_ = true;  // silent from here on; Close() frees it
    gst_element_set_state(playbin_, GST_STATE_NULL);
  }

  GstElement* playbin_ = nullptr;
  // Read on streaming threads, changed on the GUI thread only while no
  // streaming thread runs (after the pipeline went to NULL).
  std::atomic<unsigned> generation_{0};
  bool failed_ = false;
  int loops_ = 0;
  QObject context_;  // queued answers die with it

  friend MusicProgress(::ProgressOf)(const BackgroundMusic& music);
};

}  // namespace

MusicProgress ProgressOf(const BackgroundMusic& music) {
  auto* streamer = dynamic_cast<const StreamerMusic*>(&music);
  if (!streamer) return {};
  return {streamer->loops_, streamer->failed_};
}

std::unique_ptr<BackgroundMusic> CreateStreamerMusic() {
  return std::make_unique<StreamerMusic>();
}
