#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

#include "selection.h"

namespace ici3d::bench {
namespace {

TEST(RelativeScore, AveragesBothErrorsAgainstTheInput) {
  const Scores noisy{4.0, 2.0, 30};
  EXPECT_DOUBLE_EQ(relative_score(noisy, noisy), 1.0);
  EXPECT_DOUBLE_EQ(relative_score({1.0, 1.0, 0}, noisy), 0.5 * (0.25 + 0.5));
  EXPECT_DOUBLE_EQ(relative_score({0, 0, 0}, {0, 0, 0}), 0.0);
}

TEST(BestPerSigma, PicksTheLowestMeanOfEachLevel) {
  const MethodSpec k8 = parse_method("jet:k=8"), k32 = parse_method("jet:k=32");
  const std::vector<Trial> trials = {
      {k8, 0.01, 0.30, 0},  {k8, 0.01, 0.40, 0},  {k32, 0.01, 0.20, 0}, {k32, 0.01, 0.60, 0},
      {k8, 0.03, 0.50, 0},  {k32, 0.03, 0.30, 0}, {parse_method("mls:r=0.1"), 0.03, 0.01, 0}};
  const auto best = best_per_sigma(trials, "jet");
  ASSERT_EQ(best.size(), 2u);
  EXPECT_EQ(best.at(0.01).text(), "jet:k=8");  // mean 0.35 against 0.40
  EXPECT_EQ(best.at(0.03).text(), "jet:k=32");
  EXPECT_TRUE(best_per_sigma(trials, "bilateral").empty());
}

// A bowl with its minimum at a=3, b=1 and a cost that grows with a.
struct Bowl {
  std::map<std::string, int> calls;
  Summary operator()(const MethodSpec& s) {
    ++calls[s.text()];
    const double a = s.get("a"), b = s.get("b");
    return {(a - 3) * (a - 3) + (b - 1) * (b - 1) + 0.1 * (a - 3) * (b - 1), a, a};
  }
};

TEST(GreedySearch, WalksDownhillOneParameterAtATime) {
  Bowl bowl;
  const MethodSpec start = parse_method("ours:a=1,b=4");
  const SearchResult r = greedy_search(start, {{"a", {1, 2, 3, 4}}, {"b", {0, 1, 2, 4}}},
                                       std::ref(bowl), 10.0);
  EXPECT_EQ(r.chosen.text(), "ours:a=3,b=1");
  EXPECT_DOUBLE_EQ(r.summary.score, 0.0);
  EXPECT_DOUBLE_EQ(r.start.score, 4 + 9 + 0.1 * -2 * 3);
  for (const auto& [setting, count] : bowl.calls) EXPECT_EQ(count, 1) << setting;
  ASSERT_FALSE(r.steps.empty());
  EXPECT_EQ(r.steps.front().parameter, "a");
}

TEST(GreedySearch, KeepsToTheTimeBudget) {
  Bowl bowl;
  // CPU time equals a: with a budget of 2x the start (a=1), a stays <= 2.
  const SearchResult r = greedy_search(parse_method("ours:a=1,b=4"),
                                       {{"a", {1, 2, 3, 4}}, {"b", {0, 1, 2, 4}}},
                                       std::ref(bowl), 2.0);
  EXPECT_EQ(r.chosen.get("a"), 2);
  EXPECT_EQ(r.chosen.get("b"), 1);
  bool flagged = false;
  for (const SearchStep& s : r.steps) flagged |= !s.within_budget;
  EXPECT_TRUE(flagged);
}

TEST(GreedySearch, SecondRoundRevisitsEarlierParameters) {
  // Coupled parameters: the best a depends on b, so one round stops short.
  auto coupled = [](const MethodSpec& s) {
    const double a = s.get("a"), b = s.get("b");
    return Summary{(a - 3) * (a - 3) + 2 * (b - a) * (b - a), 1, 1};
  };
  const MethodSpec start = parse_method("ours:a=0,b=0");
  const auto grid = std::vector<std::pair<std::string, std::vector<double>>>{
      {"a", {0, 1, 2, 3}}, {"b", {0, 1, 2, 3}}};
  EXPECT_EQ(greedy_search(start, grid, coupled, 10.0, 1).chosen.text(), "ours:a=1,b=1");
  const SearchResult more = greedy_search(start, grid, coupled, 10.0, 5);
  EXPECT_EQ(more.chosen.text(), "ours:a=2,b=2");
  EXPECT_DOUBLE_EQ(more.summary.score, 1.0);
}

// The settings a later run reuses: the peers' table rows of one size, with
// quoted settings that hold commas; sweeps, ours and the input left out.
TEST(TunedPeerSettings, ReadsThePeersTableRowsOfOneSize) {
  const std::string path = testing::TempDir() + "tuned_peer_settings.csv";
  {
    std::ofstream out(path);
    out << "phase,points,mesh,sigma,method,setting,chamfer_e4\n"
        << "sweep,10000,cow,0.01,jet,jet:k=12,1\n"
        << "table,10000,cow,0.01,noisy,noisy,3\n"
        << "table,10000,cow,0.01,ours,\"ours:k=32,cap=512\",1\n"
        << "table,10000,cow,0.01,jet,jet:k=24,1\n"
        << "table,10000,cow,0.03,bilateral,\"bilateral:k=48,iters=3,sharp=25\",2\n"
        << "table,50000,cow,0.01,jet,jet:k=48,1\n"
        << "table,10000\n";  // a cut record
  }
  const auto tuned = tuned_peer_settings(path, 10000);
  ASSERT_EQ(tuned.size(), 2u);
  ASSERT_EQ(tuned.at("jet").size(), 1u);
  EXPECT_EQ(tuned.at("jet").at(0.01).text(), "jet:k=24");
  EXPECT_EQ(tuned.at("bilateral").at(0.03).text(), "bilateral:k=48,iters=3,sharp=25");
  EXPECT_EQ(tuned_peer_settings(path, 50000).at("jet").at(0.01).text(), "jet:k=48");
  EXPECT_THROW(tuned_peer_settings(path, 200000), std::runtime_error);
  EXPECT_THROW(tuned_peer_settings(path + ".missing", 10000), std::runtime_error);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace ici3d::bench
