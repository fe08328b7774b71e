// An opt-in line on standard error when the window is first drawn, for measuring start-up.
#pragma once

class QWidget;

namespace vennacott {

// The environment variable that asks for the line; unset or empty, nothing is installed.
inline constexpr char kFirstScreenReportVariable[] = "VENNACOTT_REPORT_FIRST_SCREEN";

// Writes "vennacott-ddns: first screen shown" once, after the shown `window` has first been drawn, when
// VENNACOTT_REPORT_FIRST_SCREEN is set. The benchmark times start-up by it.
void reportFirstScreenWhenAsked(QWidget &window);

} // namespace vennacott
