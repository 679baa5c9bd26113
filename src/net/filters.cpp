// The two word tables: words taken out of circle names and of outgoing chat
// text (abuse, spam and illegal trade), and the filter that applies them.
#include "net/netstate.h"

namespace qb {

const char* const kCircleNameFilter[] = {
    "赌博", "赌场", "博彩", "彩票", "六合彩", "时时彩", "百家乐", "老虎机", "赌球", "私服", "外挂", "刷钻", "刷信誉", "刷单", "色情",
    "成人电影", "黄色网站", "黄片", "裸聊", "裸体", "一夜情", "援交", "约炮", "激情视频", "情色", "艳照", "迷药", "春药", "催情", "枪支",
    "弹药", "手枪", "炸药", "假币", "假钞", "假证", "办证", "刻章", "代开发票", "窃听器", "监听", "黑客", "木马", "病毒", "钓鱼网站",
    "诈骗", "传销", "高利贷", "套现", "洗钱", "代考", "替考", "考试答案", "作弊器", "毒品", "冰毒", "摇头丸", "大麻", "海洛因", "吸毒",
    "贩毒", "走私", "偷渡", "器官买卖", "卖肾", "代孕", "信用卡套现", "短信群发", "广告位", "推广链接", "代理加盟", "兼职日结", "刷票",
    "垃圾", "骗子", "傻瓜", "笨蛋", "白痴", "混蛋", "王八蛋", "他妈的", "妈的", "贱人", "畜生", "滚蛋", "去死", "狗屎", "变态",
    "流氓", "淫秽", "卖淫", "嫖娼", "鸡巴", "阴道", "阴茎", "奶子", "包小姐", "三级片", "毛片", "脱衣", "偷拍", "走光", "乱伦",
    "强奸", "迷奸", "枪械", "军火", "翻墙软件", "sb", "sex", "xxx", "porn", "fuck", "casino", "viagra",
};
const size_t kCircleNameFilterCount = sizeof kCircleNameFilter / sizeof kCircleNameFilter[0];

const char* const kChatWordFilter[] = {
    "傻瓜", "笨蛋", "白痴", "混蛋", "王八蛋", "他妈的", "妈的", "你妈", "操你", "我操", "靠你", "贱人", "畜生", "滚蛋", "去死",
    "狗屎", "狗日的", "变态", "流氓", "傻逼", "二逼", "脑残", "弱智", "蠢货", "贱货", "骚货", "婊子", "杂种", "野种", "狗娘养的",
    "龟儿子", "王八", "孙子", "废物", "垃圾", "人渣", "败类", "神经病", "有病", "找死", "揍你", "砍死", "杀了你", "滚开", "闭嘴",
    "屁话", "放屁", "扯淡", "鸟人", "鸡巴", "阴道", "阴茎", "奶子", "屁眼", "淫秽", "色情", "裸聊", "一夜情", "援交", "约炮", "卖淫",
    "嫖娼", "三级片", "黄片", "毛片", "乱伦", "强奸", "迷奸", "赌博", "博彩", "六合彩", "时时彩", "百家乐", "私服", "外挂", "刷钻",
    "刷信誉", "办证", "假证", "假币", "代开发票", "迷药", "春药", "枪支", "弹药", "炸药", "毒品", "冰毒", "摇头丸", "海洛因", "诈骗",
    "传销", "高利贷", "套现", "洗钱", "群发", "代考", "偷拍", "窃听器", "黑客", "木马", "sb", "tmd", "nnd", "fuck",
    "shit", "bitch", "asshole",
};
const size_t kChatWordFilterCount = sizeof kChatWordFilter / sizeof kChatWordFilter[0];

// Deletes whole occurrences only where a character starts, so that a word can
// never take half of a double-byte character with it.
static std::string RemoveWord(const std::string& text, const std::string& word) {
  if (word.empty() || text.size() < word.size()) return text;
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text.compare(i, word.size(), word) == 0) {
      i += word.size();
      continue;
    }
    size_t step = ((unsigned char)text[i] >= 0x81 && (unsigned char)text[i] <= 0xFE && i + 1 < text.size()) ? 2 : 1;
    out.append(text, i, step);
    i += step;
  }
  return out;
}

std::string ApplyWordFilter(const std::string& text, const char* const* table, size_t count) {
  std::string out = text;
  for (size_t i = 0; i < count; ++i) out = RemoveWord(out, table[i]);
  return out;
}

}  // namespace qb
