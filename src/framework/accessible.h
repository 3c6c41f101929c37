// What assistive technology (a screen reader, a magnifier) reads of the framework's windows,
// through the system's accessibility layer (MSAA, IAccessible).
//
// Labels, the gauge and the other graphic controls have no window of their own, so the system's
// standard objects cannot see them. Every window of the framework's own classes (forms, panels)
// therefore answers WM_GETOBJECT for its client area with an accessible object of its own: its
// children are, in reading order (top to bottom, then left to right), the graphic controls that
// carry something to read (labels with a text, the gauge as a progress bar) as simple elements,
// and its child windows as the system's objects of those windows; a panel, as a group, comes after
// the container's own texts. A label that repeats the text of a label under it (a drop shadow) or
// that an opaque label painted after it covers whole is passed over: a sighted user never reads it
// twice, or at all. Nothing is painted differently: the object only
// describes what the window already shows.
//
// An edit box or a list has no caption of its own; its window answers with the system's standard
// object, named after the label that stands above it in the same container (the nearest one whose
// width overlaps the control's), as a screen reader expects a label before its control.
//
// The accessibility library (oleacc.dll) is not one of the libraries that the system always loads
// from its own folder: it is loaded from the system folder at the first request, never imported.
// Without it, the windows answer as before.
#pragma once

#include <windows.h>

#include <string>

class TControl;
class TWinControl;

// The objects answer WM_GETOBJECT through AnswerAccessibleObject (declared with the controls).

// The label that names control (see the top of this file); nullptr when none stands above it.
const TControl* LabelAbove(const TControl& control);

// Tells assistive technology that a showing graphic control's name or value has changed
// (EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_VALUECHANGE), as the system does for its own controls.
void NotifyAccessibleChange(const TControl& control, DWORD event);

// The child number of control in the accessible object of its parent window (1 for the first in
// reading order); 0 when it is not one of its children.
long AccessibleChildId(const TControl& control);

// Whether the user has switched on a high-contrast theme: the controls that paint their own
// colours (the gradient, the gauge, the labels) then use the theme's system colours.
bool HighContrastOn();
