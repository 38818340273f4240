#include "platform/gl_stereo_driver.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>
#include <QThread>
#include <QWindow>

Q_LOGGING_CATEGORY(lcStereo, "duoramic.stereo", QtWarningMsg)

namespace {

// Desktop OpenGL calls outside the ES subset that QOpenGLFunctions covers.
using DrawBufferFn = void (*)(GLenum);
using RasterPosFn = void (*)(GLfloat, GLfloat);
using PixelZoomFn = void (*)(GLfloat, GLfloat);
using DrawPixelsFn = void (*)(GLsizei, GLsizei, GLenum, GLenum, const void*);

constexpr GLenum kStereo = 0x0C33;     // GL_STEREO
constexpr GLenum kBack = 0x0405;       // GL_BACK
constexpr GLenum kBackLeft = 0x0402;   // GL_BACK_LEFT
constexpr GLenum kBackRight = 0x0403;  // GL_BACK_RIGHT
constexpr GLenum kBgra = 0x80E1;       // GL_BGRA

QSurfaceFormat FormatFor(bool stereo) {
  QSurfaceFormat format;
  format.setRenderableType(QSurfaceFormat::OpenGL);
  // glDrawPixels and the left/right back buffers: a compatibility context.
  format.setProfile(QSurfaceFormat::CompatibilityProfile);
  format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
  format.setSwapInterval(1);  // one swap per refresh
  format.setStereo(stereo);
  return format;
}

}  // namespace

GlStereoDriver::GlStereoDriver(QWindow& window) : window_(window) {}

GlStereoDriver::~GlStereoDriver() { Stop(); }

bool GlStereoDriver::MakeContext(bool stereo) {
  context_.reset();
  if (window_.handle()) window_.destroy();
  window_.setSurfaceType(QSurface::OpenGLSurface);
  window_.setFormat(FormatFor(stereo));
  window_.create();
  context_ = std::make_unique<QOpenGLContext>();
  context_->setFormat(window_.requestedFormat());
  if (!context_->create() || !context_->makeCurrent(&window_)) {
    context_.reset();
    return false;
  }
  return true;
}

// A context may say stereo and still have no right back buffer, or the
// reverse: both the state and a draw into the right buffer must agree.
bool GlStereoDriver::StereoGranted() {
  if (!context_->format().stereo()) return false;
  QOpenGLFunctions* gl = context_->functions();
  GLboolean stereo = GL_FALSE;
  while (gl->glGetError() != GL_NO_ERROR) {
  }
  gl->glGetBooleanv(kStereo, &stereo);
  auto drawBuffer = reinterpret_cast<DrawBufferFn>(
      context_->getProcAddress("glDrawBuffer"));
  if (!stereo || !drawBuffer) return false;
  drawBuffer(kBackRight);
  bool accepted = gl->glGetError() == GL_NO_ERROR;
  drawBuffer(kBack);
  return accepted;
}

StereoStatus GlStereoDriver::Start(int, int) {
  if (!MakeContext(true)) {
    // Some drivers refuse the stereo request outright.
    if (!MakeContext(false)) return StereoStatus::NoDevice;
    return StereoStatus::Unavailable;
  }
  stereo_ = StereoGranted();
  qCDebug(lcStereo) << "stereo context granted:" << stereo_
                    << context_->format();
  if (!stereo_) {
    // Refused, the request may have cost depth and stencil as well: start
    // again from a plain context so the window stays usable.
    MakeContext(false);
    return StereoStatus::Unavailable;
  }
  return StereoStatus::Enabled;
}

void GlStereoDriver::DrawEye(StereoEye eye, const EyeImage& image) {
  std::lock_guard lock(mutex_);
  std::vector<uint32_t>& copy = pending_[eye == StereoEye::Left ? 0 : 1];
  copy.resize(size_t(image.width) * image.height);
  for (int y = 0; y < image.height; ++y)
    std::copy(image.pixels + y * image.stride,
              image.pixels + y * image.stride + image.width,
              copy.begin() + size_t(y) * image.width);
  pendingWidth_ = image.width;
  pendingHeight_ = image.height;
}

void GlStereoDriver::Swap() {
  if (QThread::currentThread() == guard_.thread()) {
    DrawPending();
    return;
  }
  QMetaObject::invokeMethod(&guard_, [this] { DrawPending(); },
                            Qt::QueuedConnection);
}

void GlStereoDriver::DrawPending() {
  if (!context_ || !window_.isExposed() || !context_->makeCurrent(&window_))
    return;
  auto drawBuffer = reinterpret_cast<DrawBufferFn>(
      context_->getProcAddress("glDrawBuffer"));
  auto rasterPos = reinterpret_cast<RasterPosFn>(
      context_->getProcAddress("glRasterPos2f"));
  auto pixelZoom = reinterpret_cast<PixelZoomFn>(
      context_->getProcAddress("glPixelZoom"));
  auto drawPixels = reinterpret_cast<DrawPixelsFn>(
      context_->getProcAddress("glDrawPixels"));
  if (!drawBuffer || !rasterPos || !pixelZoom || !drawPixels) return;
  QOpenGLFunctions* gl = context_->functions();
  qreal ratio = window_.devicePixelRatio();
  int width = int(window_.width() * ratio), height = int(window_.height() * ratio);
  gl->glViewport(0, 0, width, height);
  std::lock_guard lock(mutex_);
  if (pendingWidth_ < 1 || pendingHeight_ < 1) return;
  // Each eye's picture is stretched over the whole window, top row first.
  pixelZoom(GLfloat(width) / pendingWidth_, -GLfloat(height) / pendingHeight_);
  for (int eye = 0; eye < 2; ++eye) {
    if (!stereo_ && eye == 1) break;  // a plain context shows the left eye
    drawBuffer(stereo_ ? (eye == 0 ? kBackLeft : kBackRight) : kBack);
    gl->glClearColor(0, 0, 0, 1);
    gl->glClear(GL_COLOR_BUFFER_BIT);
    if (pending_[eye].empty()) continue;
    rasterPos(-1, 1);
    drawPixels(pendingWidth_, pendingHeight_, kBgra, GL_UNSIGNED_BYTE,
               pending_[eye].data());
  }
  context_->swapBuffers(&window_);
}

bool GlStereoDriver::Stop() {
  if (!context_) return true;
  context_->doneCurrent();
  context_.reset();
  return true;
}
