// The texts and result codes of the local operation dialogs and of the
// questions the workers ask. The front end builds its dialogs from these.
#pragma once

#include "platform/questions.h"
#include "platform/types.h"

#include <array>
#include <ctime>
#include <string>

namespace qb::lfs {

// Progress dialogs.
inline constexpr char kCaptionDeleting[] = "Deleting...";
inline constexpr char kCaptionCopying[] = "Copying...";
inline constexpr char kCaptionMoving[] = "Moving...";
inline constexpr char kLabelFrom[] = "From :";
inline constexpr char kLabelTo[] = "To :";
inline constexpr char kButtonCancel[] = "Cancel";

// What the workers tell the user. "%s" stands for a full path.
inline constexpr char kFailedDeleteFile[] = "Failed to delete file\n%s";
inline constexpr char kFailedDeleteFolder[] = "Failed to delete folder\n%s";
inline constexpr char kFailedCreateFolder[] = "Failed to create folder\n%s";
inline constexpr char kFailedCopyFile[] = "Failed to copy file\n";
inline constexpr char kFailedMoveFile[] = "Failed to move file\n";
inline constexpr char kToFolder[] = "\nto folder\n";
inline constexpr char kFailedDeleteMoved[] = "Failed to delete moved item\n";
inline constexpr char kFailedPlace[] = "Failed!";

// Message box styles of the workers: OK continues with the next item and
// Cancel stops; or OK only, which just informs.
inline constexpr unsigned kStyleAsk = MB_OKCANCEL | MB_ICONERROR; // 17
inline constexpr unsigned kStyleInform = MB_OK | MB_ICONERROR;    // 16
inline constexpr unsigned kStylePlain = MB_OK;

// `format` with its "%s" replaced by `path` (taken literally).
std::string FormatPath(const char* format, const std::string& path);

struct DialogButton {
    const char* text;
    int result;
    // Enabled only when a resume is possible (overwrite dialog).
    bool needsResume = false;
};

// Confirm Delete.
enum ConfirmAnswer : int {
    CONFIRM_YES = 6,
    CONFIRM_NO = 7,
};
inline constexpr char kConfirmDeleteCaption[] = "Confirm Delete";
inline constexpr char kConfirmDeletePrompt[] = "Are you sure you want to delete";
inline constexpr std::array<DialogButton, 2> kConfirmButtons{{
    {"&Yes", CONFIRM_YES},
    {"&No", CONFIRM_NO},
}};

// Confirm Move, or Confirm Copy when built without the move flag; same
// buttons as Confirm Delete.
inline constexpr char kConfirmMoveCaption[] = "Confirm Move";
inline constexpr char kConfirmMovePrompt[] = "Are you sure you want to move";
inline constexpr char kConfirmCopyCaption[] = "Confirm Copy";
inline constexpr char kConfirmCopyPrompt[] = "Are you sure you want to copy";
inline constexpr char kConfirmToFolder[] = "To Folder";

// Replace Confirmation (local copies and moves).
enum ReplaceAnswer : int {
    REPLACE_YES = 6,
    REPLACE_YES_TO_ALL = 5,
    REPLACE_NO = 7,
    REPLACE_CANCEL = 2,
};
inline constexpr char kReplaceCaption[] = "Replace Confirmation";
inline constexpr char kReplacePrompt[] = "Would you like to replace";
inline constexpr char kGroupExisting[] = "  &Existing Item  ";
inline constexpr char kGroupWith[] = "  &With  ";
inline constexpr char kSizePrefix[] = "Size : ";
inline constexpr char kSizeSuffix[] = " Bytes";
inline constexpr char kModifiedPrefix[] = "Modified : ";
inline constexpr std::array<DialogButton, 4> kReplaceButtons{{
    {"&Yes", REPLACE_YES},
    {"Yes To &All", REPLACE_YES_TO_ALL},
    {"&No", REPLACE_NO},
    {"&Cancel", REPLACE_CANCEL},
}};

// Overwrite Confirmation (file transfers).
enum OverwriteAnswer : int {
    OVERWRITE = 3,
    OVERWRITE_RESUME = 4,
    OVERWRITE_CANCEL = 2,
    OVERWRITE_ALL = 6,
    OVERWRITE_RESUME_ALL = 7,
    OVERWRITE_CANCEL_ALL = 5,
};
inline constexpr char kOverwriteCaption[] = "Overwrite Confirmation";
inline constexpr char kOverwritePrompt[] = "Would you like to overwrite";
inline constexpr std::array<DialogButton, 6> kOverwriteButtons{{
    {"&Overwrite", OVERWRITE},
    {"&Resume", OVERWRITE_RESUME, true},
    {"Ca&ncel", OVERWRITE_CANCEL},
    {"Overwrite &All", OVERWRITE_ALL},
    {"Resume A&ll", OVERWRITE_RESUME_ALL, true},
    {"&Cancel All", OVERWRITE_CANCEL_ALL},
}};

// A size with commas between groups of three digits: "1,234,567".
std::string GroupThousands(FileSize size);

// The three lines one group of the Replace Confirmation shows: the full
// name, "Size : 1,234 Bytes" and "Modified : " with the local date and time
// in the locale's representation.
std::array<std::string, 3> ReplaceGroupLines(const std::string& fullName, FileSize size,
                                             std::time_t modified);

} // namespace qb::lfs
