// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Order of the document and page sequences per platform. Each platform's stream is a walk
// through a small graph of expected items; an item that is not a successor of the current one
// is named as out of order, and the walk resumes at the item's own place in the graph.
#include <string>
#include <vector>

#include "inspect_internal.h"
#include "sequence_check.h"

namespace varnel_inspect {

namespace {

struct Node {
  const char* name;
  bool separated;           // a filler pair 00 00 must come right before it
  std::vector<int> next;    // empty: the following node
  bool final = false;       // the stream may end here
};

using Graph = std::vector<Node>;

// The end-of-job text: UEL, "@PJL", "@PJL EOJ", UEL, CR LF.
void AppendEndOfJob(Graph* g, bool firstSeparated, bool endsStream) {
  g->push_back({"UEL_CMD", firstSeparated, {}});
  g->push_back({"@PJL", false, {}});
  g->push_back({"@PJL EOJ", false, {}});
  g->push_back({"UEL_CMD", false, {}});
  g->push_back({"CRLF", false, {}, endsStream});
}

const Graph& GraphC() {
  static const Graph g = [] {
    Graph n;
    n.push_back({"UEL_CMD_C", false, {}});                  // 0
    n.push_back({"abortCmd", false, {}});                   // 1
    AppendEndOfJob(&n, false, false);                       // 2-6
    n.push_back({"fwVer", false, {}});                      // 7
    n.push_back({"UEL_CMD", true, {}});                     // 8
    n.push_back({"@PJL", false, {}});                       // 9
    n.push_back({"@PJL ENTER LANGUAGE=PL", false, {}});     // 10
    n.push_back({"cmdJobSpec", true, {}});                  // 11
    n.push_back({"cmdTonerSave", true, {}});                // 12
    n.push_back({"cmdDensity", true, {}});                  // 13
    n.push_back({"cmdSysTime", false, {15, 26, 27}});       // 14
    n.push_back({"cmdPageSpec", true, {}});                 // 15
    n.push_back({"cmdCustomPaper", true, {}});              // 16
    n.push_back({"hostUseCmd", true, {}});                  // 17
    n.push_back({"cmdRasterImage", true, {19, 20}});        // 18
    n.push_back({"JBIG data", false, {}});                  // 19
    n.push_back({"UEL_CMD_C", false, {}});                  // 20
    n.push_back({"cmdImageDataChecksum", true, {}});        // 21
    n.push_back({"cmdCoverage", true, {}});                 // 22
    n.push_back({"formFeedCmd", true, {24, 15, 25, 26, 27}});  // 23
    n.push_back({"machineDuplexCmd", true, {15, 25, 26, 27}});  // 24: after an odd page
    n.push_back({"manualDuplexCmd", false, {15, 26, 27}});  // 25
    n.push_back({"machineDuplexCmd", true, {27}});          // 26: end of document
    n.push_back({"queryStatusCmd", true, {}});              // 27
    n.push_back({"resetCmd", true, {}});                    // 28
    AppendEndOfJob(&n, false, true);                        // 29-33
    return n;
  }();
  return g;
}

const Graph& GraphZ() {
  static const Graph g = [] {
    Graph n;
    n.push_back({"UEL_CMD", false, {}});                               // 0
    n.push_back({"@PJL", false, {2, 3}});                              // 1
    n.push_back({"@PJL LANGUAGEVERSION=1.0", false, {}});              // 2
    n.push_back({"@PJL JOBTIME=", false, {}});                         // 3
    n.push_back({"@PJL JOBOWNER=", false, {}});                        // 4
    n.push_back({"@PJL ENTER LANGUAGE=PL", false, {}});                // 5
    n.push_back({"cmdFineMode", true, {}});                            // 6
    n.push_back({"cmdJobSpec", true, {}});                             // 7
    n.push_back({"cmdDensity", true, {9, 10, 11, 19}});                // 8
    n.push_back({"cmdTonerParamK5916", true, {11, 19}});               // 9
    n.push_back({"cmdTonerParamT9366", true, {11, 19}});               // 10
    n.push_back({"cmdPageSpec", true, {}});                            // 11
    n.push_back({"cmdCustomPaper", true, {}});                         // 12
    n.push_back({"cmdCoverage", true, {}});                            // 13
    n.push_back({"cmdRasterImage", true, {15}});                       // 14
    n.push_back({"bandRecord", false, {16, 15, 17}});                  // 15
    n.push_back({"JBIG data", false, {15, 17}});                       // 16
    n.push_back({"formFeedCmd", true, {11, 18, 19}});                  // 17
    n.push_back({"manualDuplexCmd", false, {11, 19}});                 // 18
    n.push_back({"resetCmd", false, {}});                              // 19
    AppendEndOfJob(&n, false, true);                                   // 20-24
    return n;
  }();
  return g;
}

const Graph& GraphM() {
  static const Graph g = {
      {"UEL_CMD", false, {}},                   // 0
      {"JZJZ", false, {}},                      // 1
      {"TONER_PARAM", false, {}},               // 2
      {"START_DOC_CMD", false, {4, 10}},        // 3
      {"START_PAGE_CMD", false, {}},            // 4
      {"JBIG_PARAM_CMD", false, {}},            // 5
      {"JBIG_DATA_CMD", false, {6, 7}},         // 6
      {"JBIG_END_CMD", false, {}},              // 7
      {"END_PAGE_CMD", false, {4, 9, 10}},      // 8
      {"MANUAL_DUPLEX_CMD", false, {4, 10}},    // 9
      {"END_DOC_CMD", false, {}},               // 10
      {"UEL_CMD", false, {}, true},             // 11
  };
  return g;
}

std::vector<int> Successors(const Graph& g, int state) {
  if (state < 0) return {0};
  if (!g[state].next.empty()) return g[state].next;
  if (state + 1 < static_cast<int>(g.size())) return {state + 1};
  return {};
}

std::string NameList(const Graph& g, const std::vector<int>& nodes) {
  std::string text;
  for (int n : nodes) text += (text.empty() ? "" : " or ") + std::string(g[n].name);
  return text.empty() ? "nothing" : text;
}

// Items that take part in the order; the others are checked where they are attached.
bool IsSequenceItem(Platform platform, const Item& item) {
  if (item.kind == ItemKind::Filler || item.kind == ItemKind::MParam || item.kind == ItemKind::Unknown) return false;
  if (platform == Platform::M && item.kind == ItemKind::JbigData) return false;
  return true;
}

int Resync(const Graph& g, int state, const std::string& name) {
  int count = static_cast<int>(g.size());
  for (int step = 1; step <= count; ++step) {
    int n = ((state < 0 ? -1 : state) + step) % count;
    if (n >= 0 && name == g[n].name) return n;
  }
  return state;
}

const Graph& GraphOf(Platform platform) {
  return platform == Platform::C ? GraphC() : platform == Platform::Z ? GraphZ() : GraphM();
}

}  // namespace

void InspectContext::AfterStep() {
  if (sequence != nullptr) sequence->Advance();
}

void SequenceCheck::Advance() {
  const Platform platform = c_.result->platform;
  const Graph& g = GraphOf(platform);
  const std::vector<Item>& items = c_.result->items;
  for (; next_ < items.size(); ++next_) {
    const size_t i = next_;
    const Item& item = items[i];
    if (IsSequenceItem(platform, item)) {
      std::vector<int> next = Successors(g, state_);
      int found = -1;
      for (int n : next) {
        if (item.name == g[n].name) {
          found = n;
          break;
        }
      }
      if (found >= 0) {
        bool separated = i > 0 && items[i - 1].kind == ItemKind::Filler;
        if (g[found].separated && !separated)
          c_.AddPageDefect(item.offset, "missing filler pair 00 00 before " + item.name);
        state_ = found;
      } else {
        c_.AddPageDefect(item.offset, "wrong order: " + item.name + " where " + NameList(g, next) +
                                          " should come" +
                                          (state_ >= 0 ? std::string(" after ") + g[state_].name : ""));
        state_ = Resync(g, state_, item.name);
      }
      assembler_.OnItem(i);
    }
    // The page assembly has taken the item's image if it wanted it.
    c_.decodedBlocks.erase(i);
  }
}

void SequenceCheck::Finish() {
  Advance();
  const Graph& g = GraphOf(c_.result->platform);
  // A stream cut short by the item limit has its own defect.
  if (!c_.stopped && (state_ < 0 || !g[state_].final)) {
    c_.AddPageDefect(c_.size, "stream ends " + (state_ < 0 ? std::string("without any item") :
                                                 std::string("after ") + g[state_].name) +
                                  " before the end of the document (expected " +
                                  NameList(g, Successors(g, state_)) + ")");
  }
  assembler_.Finish();
}

}  // namespace varnel_inspect
