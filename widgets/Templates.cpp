#include "widgets/Templates.h"

namespace templates {

const DialogTemplate& Splash() {
  static const DialogTemplate tmpl{
      kSplashTemplate,
      QString(),
      319,
      104,
      {
          {kSplashLogo, ControlKind::Custom, QString(), 7, 5, 305, 66, 0, QStringLiteral("CStaticLogo")},
          {kSplashVersion, ControlKind::Static, QString(), 10, 74, 299, 10, ControlStyle::kCenter, {}},
          {kSplashStatus, ControlKind::Static, QStringLiteral("Loading..."), 10, 89, 299, 10, 0, {}},
      }};
  return tmpl;
}

}  // namespace templates
