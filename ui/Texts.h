// Every text the program shows the user, outside the dialog templates of the
// resource script.
#pragma once

#include <string>

// Message-box caption.
extern const char kCaption[];

// Message boxes.
extern const char kNoPortsText[];
extern const char kOpenFailedText[];
extern const char kConnectText[];
extern const char kNotDetectedText[];
extern const char kAdminText[];
extern const char kWritingModeText[];
extern const char kFailedText[];
extern const char kCompletedText[];
extern const char kNormalModeText[];
extern const char kTestText[];  // a direct read that got less than the driver reported

// Status line.
extern const char kIdleStatusText[];
extern const char kLoadingProgramText[];
extern const char kDeletingText[];
extern const char kTransferringText[];

// The percent label: "0%" to "100%".
std::string PercentText(int percent);
