// What a visual object needs of the window that holds the pages: the page of a given index
// and the dialog units in which profiles place objects. The main dialog implements it; a
// visual object sees nothing else of that dialog.
#pragma once

#include "widgets/DialogUnits.h"

class QWidget;

class IPageHost {
 public:
  // The page bearing `index`, null when there is none.
  virtual QWidget* FindPage(int index) const = 0;
  // The conversion from dialog units of the host's font to pixels.
  virtual DialogBaseUnits Units() const = 0;

 protected:
  ~IPageHost() = default;
};
