#include "transfer/transfer_texts.h"

#include <cstdio>

#include "board/text_format.h"

namespace transfer::texts {

std::string CannotOpen(int code, const std::string& words) {
  return Sprintf("无法打开文件！\n错误%d", code) + ": " + words;
}

std::string PageFileInvalid(const std::string& where_and_what) {
  return "Page file error at " + where_and_what + "; no image";
}

std::string LoadBlock(size_t offset, size_t size, bool last) {
  return Sprintf(last ? "写入数据块数据  Address:%x    DataSize:%d"
                      : "写入数据块数据  Address:0x%x    DataSize:%d",
                 static_cast<unsigned>(offset), static_cast<int>(size));
}

std::string CheckBlock(size_t offset, size_t size, bool last) {
  return Sprintf(
      last ? "读入数据块数据 Address:%x  DataSize:%d" : "读入数据块数据 Address:0x%x  DataSize:%d",
      static_cast<unsigned>(offset), static_cast<int>(size));
}

std::string ByteMismatch(size_t offset) {
  return Sprintf("数据校验异常,异常字节数据地址:0x%X，请检查!", static_cast<unsigned>(offset));
}

std::string BytesVerified(size_t offset) {
  return Sprintf("数据校验正常! 已校验字节数据地址:0x%X", static_cast<unsigned>(offset));
}

std::string LogLine(const std::string& text) { return ">>" + text + " \r\n"; }

}  // namespace transfer::texts
