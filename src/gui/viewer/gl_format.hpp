// The default surface format of the workstation. The view draws with the fixed-function pipeline,
// which needs a compatibility profile with the deprecated functions; without it Mesa hands out a
// core context and nothing is drawn. Multisampling stays off: blended edge pixels would decode as
// wrong pick indices. Call before the QApplication is created.
#pragma once

namespace quarv {

void setDefaultGlFormat();

// Whether a context of the default format can be created and made current (needs the
// QApplication). False on a display without OpenGL.
bool openGlAvailable();

} // namespace quarv
