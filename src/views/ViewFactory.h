// Creation of the two views of the device's library; each view's own file defines its maker.
#pragma once

#include <memory>

#include "views/DeviceView.h"

class QWidget;

namespace corvane {
class TIpodDevice;
}

namespace corvane::views {

// The music view (tree of categories and playlists, track list) over device.
std::unique_ptr<TDeviceView> CreateMusicView(QWidget* owner, TIpodDevice& device);
// The photo view (album tree, thumbnail grid) over device.
std::unique_ptr<TDeviceView> CreatePhotoView(QWidget* owner, TIpodDevice& device);

}  // namespace corvane::views
