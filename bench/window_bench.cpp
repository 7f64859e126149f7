// The main window with the open dialog scripted, offscreen: opening until
// the whole tree stands, selecting a key until its sorted list stands, and
// View > Show deleted keys and values until the recovered nodes stand.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <memory>
#include <fstream>

#include "bench_hives.h"
#include "hive_builder.h"
#include "scripted_modal.h"
#include "shared_hives.h"
#include "synthetic_hive.h"
#include "win/tform1.h"

namespace cellbrook::bench {
namespace {

std::string WriteOnce(const std::string& name, const test::Bytes& bytes) {
  const std::string path = "/tmp/cellbrook-bench-" + name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

const std::string& LargeHivePath() {
  static const std::string path = [] {
    if (const char* p = std::getenv("CELLBROOK_BENCH_HIVE")) return std::string(p);
    return WriteOnce("large.hive", test::BuildSyntheticHive());
  }();
  return path;
}

const std::string& SmallKeysPath() {
  static const std::string path =
      WriteOnce("small-keys.hive", test::BuildSyntheticHive({.groups = 500, .keysPerGroup = 1000, .values = 0}));
  return path;
}

const std::string& ManyValuesPath() {
  static const std::string path = [] {
    test::HiveBuilder b;
    const uint32_t root = b.Key("root");
    const uint32_t key = b.Key("Many", root);
    b.SetSubkeys(root, {key});
    std::vector<uint32_t> values;
    for (int i = 0; i < 10000; ++i) {
      const std::string name = "Value " + std::to_string((i * 7919) % 10000);
      values.push_back(i % 2 ? b.Value(name, 4, {1, 2, 3, 4}) : b.Value(name, 1, test::Utf16Bytes(u"some text")));
    }
    b.SetValues(key, values);
    b.SetRoot(root);
    return WriteOnce("many-values.hive", b.Image());
  }();
  return path;
}

long PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

void OpenUntilTreeStands(benchmark::State& state, const std::string& path) {
  test::ScriptedModal modal;
  TForm1 form;
  form.show();
  for (auto _ : state) {
    modal.fileAnswers << QString::fromStdString(path);
    form.Openregistryfile1Click();
    QApplication::processEvents();
  }
  if (!modal.boxes.isEmpty()) state.SkipWithError(modal.boxes[0].text.toStdString().c_str());
  state.counters["peak_MiB"] = static_cast<double>(PeakMiB());
}

void BM_OpenLargeHive(benchmark::State& state) { OpenUntilTreeStands(state, LargeHivePath()); }
void BM_OpenHalfMillionSmallKeys(benchmark::State& state) { OpenUntilTreeStands(state, SmallKeysPath()); }

void BM_SelectKeyWith10000Values(benchmark::State& state) {
  test::ScriptedModal modal;
  TForm1 form;
  form.show();
  modal.fileAnswers << QString::fromStdString(ManyValuesPath());
  form.Openregistryfile1Click();
  QTreeWidgetItem* top = form.TreeView1->topLevelItem(0);
  QTreeWidgetItem* key = top->child(0);
  for (auto _ : state) {
    // Another node first, untimed, so that the key is listed anew.
    state.PauseTiming();
    form.TreeView1->setCurrentItem(top);
    form.TreeView1Click();
    QApplication::processEvents();
    state.ResumeTiming();
    form.TreeView1->setCurrentItem(key);
    form.TreeView1Click();
    QApplication::processEvents();
  }
  state.counters["rows"] = form.ListView1->topLevelItemCount();
}

// The first toggle after an open: the scan of the image shown and the
// recovered nodes put into the tree; the open and the toggle off untimed.
void ToggleDeletedOn(benchmark::State& state, const char* name) {
  const std::string path = test::SharedHivesDir() + "/" + name;
  if (!test::SharedHivesPresent()) return state.SkipWithError("shared hives not available");
  test::ScriptedModal modal;
  TForm1 form;
  form.show();
  for (auto _ : state) {
    state.PauseTiming();
    modal.fileAnswers << QString::fromStdString(path);
    form.Openregistryfile1Click();
    QApplication::processEvents();
    state.ResumeTiming();
    form.Showdeletedkeysandvalues1->trigger();
    QApplication::processEvents();
    state.PauseTiming();
    form.Showdeletedkeysandvalues1->trigger();
    QApplication::processEvents();
    state.ResumeTiming();
  }
  if (!modal.boxes.isEmpty()) state.SkipWithError(modal.boxes[0].text.toStdString().c_str());
}

// Later toggles on and off, the scan kept.
void ToggleDeletedAgain(benchmark::State& state, const char* name) {
  if (!test::SharedHivesPresent()) return state.SkipWithError("shared hives not available");
  test::ScriptedModal modal;
  TForm1 form;
  form.show();
  modal.fileAnswers << QString::fromStdString(test::SharedHivesDir() + "/" + name);
  form.Openregistryfile1Click();
  form.TreeView1->expandAll();
  for (auto _ : state) {
    form.Showdeletedkeysandvalues1->trigger();
    QApplication::processEvents();
    form.Showdeletedkeysandvalues1->trigger();
    QApplication::processEvents();
  }
}

// The large hive (some 175,000 keys) with every node expanded by "*" on the
// file's node, as a user would; then each move the user makes, one
// iteration each, the window repainted before the clock stops.
struct ExpandedLargeTree {
  test::ScriptedModal modal;
  TForm1 form;
  ExpandedLargeTree() {
    form.resize(900, 700);
    form.show();
    modal.fileAnswers << QString::fromStdString(LargeHivePath());
    form.Openregistryfile1Click();
    QApplication::processEvents();
  }
  void ExpandAll() {
    form.TreeView1->setFocus();
    form.TreeView1->setCurrentItem(form.TreeView1->topLevelItem(0));
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Asterisk, Qt::NoModifier, "*");
    QApplication::sendEvent(form.TreeView1, &press);
    QApplication::processEvents();
  }
  void Key(Qt::Key key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(form.TreeView1, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(form.TreeView1, &release);
    form.TreeView1->viewport()->repaint();
    QApplication::processEvents();
  }
};

void BM_LargeTreeExpandAll(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto tree = std::make_unique<ExpandedLargeTree>();
    state.ResumeTiming();
    tree->ExpandAll();
    tree->form.TreeView1->viewport()->repaint();
    state.PauseTiming();
    tree.reset();
    state.ResumeTiming();
  }
}

// The first move after "expand all" is the one that used to freeze.
void LargeTreeMove(benchmark::State& state, Qt::Key key) {
  for (auto _ : state) {
    state.PauseTiming();
    auto tree = std::make_unique<ExpandedLargeTree>();
    tree->ExpandAll();
    if (key == Qt::Key_Home) tree->Key(Qt::Key_End);
    state.ResumeTiming();
    tree->Key(key);
    state.PauseTiming();
    tree.reset();
    state.ResumeTiming();
  }
}
void BM_LargeTreeFirstEnd(benchmark::State& state) { LargeTreeMove(state, Qt::Key_End); }
void BM_LargeTreeHomeAfterEnd(benchmark::State& state) { LargeTreeMove(state, Qt::Key_Home); }
void BM_LargeTreePageDown(benchmark::State& state) { LargeTreeMove(state, Qt::Key_PageDown); }

// A drag of the scroll bar: the thumb to the middle, then to the end.
void BM_LargeTreeScrollBarDrag(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto tree = std::make_unique<ExpandedLargeTree>();
    tree->ExpandAll();
    QScrollBar* bar = tree->form.TreeView1->verticalScrollBar();
    state.ResumeTiming();
    bar->setValue(bar->maximum() / 2);
    tree->form.TreeView1->viewport()->repaint();
    QApplication::processEvents();
    bar->setValue(bar->maximum());
    tree->form.TreeView1->viewport()->repaint();
    QApplication::processEvents();
    state.PauseTiming();
    state.counters["rows"] = bar->maximum();
    tree.reset();
    state.ResumeTiming();
  }
}

BENCHMARK(BM_LargeTreeExpandAll)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK(BM_LargeTreeFirstEnd)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK(BM_LargeTreeHomeAfterEnd)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly();
BENCHMARK(BM_LargeTreePageDown)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK(BM_LargeTreeScrollBarDrag)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly();

void BM_ShowDeletedSystem(benchmark::State& state) { ToggleDeletedOn(state, "SYSTEM"); }
void BM_ShowDeletedNtuser(benchmark::State& state) { ToggleDeletedOn(state, "NTUSER.DAT"); }
void BM_ShowAndHideDeletedAgainNtuserExpanded(benchmark::State& state) { ToggleDeletedAgain(state, "NTUSER.DAT"); }

BENCHMARK(BM_ShowDeletedSystem)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK(BM_ShowDeletedNtuser)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK(BM_ShowAndHideDeletedAgainNtuserExpanded)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly();
BENCHMARK(BM_OpenLargeHive)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK(BM_OpenHalfMillionSmallKeys)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(3)
    ->ReportAggregatesOnly();
BENCHMARK(BM_SelectKeyWith10000Values)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

}  // namespace
}  // namespace cellbrook::bench
