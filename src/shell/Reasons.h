#pragma once

#include <QString>

#include <string>

namespace fanjian {

struct RunFailure;

// Why a run failed, for people, in Traditional Chinese, with the path concerned in readable form:
// "磁碟空間不足：/site/GB/a.htm". Shown in the tooltips of the failure texts, which stay as they are.
QString FailureReason(const RunFailure& failure);

// Why the run refused the folder path `folderPath` (bytes): in Traditional Chinese for the tooltip
// of 未輸入轉換路徑, and in English for standard error.
QString RejectionReason(const std::string& folderPath);
std::string RejectionMessage(const std::string& folderPath);

} // namespace fanjian
