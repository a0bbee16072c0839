// The texts of the EEPROM transfer: log lines, message boxes and the file
// dialog filter. The page and the command-line tool print these and nothing
// else, so that both always say the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace transfer::texts {

// Conversion of a page file.
inline constexpr const char* kConvertStart = "开始读取文件内容!";
inline constexpr const char* kConvertDone = "读取文件内容完毕!";
// Message boxes of Browse.
inline constexpr const char* kUnsupportedFile = "不支持的文件版本";
// Load and check.
inline constexpr const char* kNoImage = "未加载文件!";
inline constexpr const char* kEnterLoadMode = "进入EEPROM加载模式!";
inline constexpr const char* kLoadFailed = "写入数据异常,自动退出!";
inline constexpr const char* kLoadDone = "写入数据完成!";
inline constexpr const char* kCheckFailed = "读入数据异常,自动退出!";
inline constexpr const char* kLengthMismatch = "数据校验异常,数据长度不一致，请检查!";
inline constexpr const char* kCheckPassed = "数据校验成功,无异常!";
inline constexpr const char* kTerminate = "Terminate File Transfer!";

// Page: the file dialog and the controls.
inline constexpr const char* kFileFilter = "页文件(*.txt)|*.txt|所有文件(*.*)|*.*||";
inline constexpr const char* kFileLabel = "FILE:";
inline constexpr const char* kBrowse = "Browse";
inline constexpr const char* kLoadFile = "Load File";
inline constexpr const char* kCancel = "Cancel";
inline constexpr const char* kCheck = "Check";

// "无法打开文件！\n错误2: No such file or directory"
std::string CannotOpen(int code, const std::string& words);
// "Page file error at line 3, column 12: ...; no image"
std::string PageFileInvalid(const std::string& where_and_what);

// Block lines: the full-block form names the 2048-byte stretch that begins at
// `offset`; the last-block form names a shorter last block (hex without 0x).
std::string LoadBlock(size_t offset, size_t size, bool last);
std::string CheckBlock(size_t offset, size_t size, bool last);
std::string ByteMismatch(size_t offset);
std::string BytesVerified(size_t offset);

// The log box's line: ">>TEXT \r\n".
std::string LogLine(const std::string& text);

}  // namespace transfer::texts
