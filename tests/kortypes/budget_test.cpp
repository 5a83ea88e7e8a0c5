// The catalogue budget: reading the budget file, counting quantities from
// registered types, and comparing the two.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "budget.h"
#include "catalogue.h"
#include "kortypes/types/kor.ServiceInstance.h"
#include "movel/type.h"

namespace kortypes {
namespace {

bool Parse(const std::string& text, Budget* budget, std::string* error) {
  std::istringstream in(text);
  return ParseBudget(in, "b.tsv", budget, error);
}

// Parses text that must be rejected and returns the message.
std::string Reject(const std::string& text) {
  Budget budget;
  std::string error;
  EXPECT_FALSE(Parse(text, &budget, &error)) << text;
  return error;
}

TEST(BudgetFile, ReadsHeaderRowsAndSkipsComments) {
  Budget b;
  std::string error;
  ASSERT_TRUE(Parse("# shares made by hand\n"
                    "# module\tmethods\tproperties.data\n"
                    "\n"
                    "kor\t10\t0\r\n"
                    "# a comment between rows\n"
                    "kor.host\t7\t12\n",
                    &b, &error))
      << error;
  EXPECT_EQ(b.columns, (std::vector<std::string>{"methods", "properties.data"}));
  ASSERT_EQ(b.rows.size(), 2u);
  EXPECT_EQ(b.rows[0].module, "kor");
  EXPECT_EQ(b.rows[0].values, (std::vector<long long>{10, 0}));  // "\r" dropped
  EXPECT_EQ(b.rows[1].line, 6);
  EXPECT_EQ(b.ColumnTotal(0), 17);
  EXPECT_EQ(b.ColumnTotal(1), 12);
  ASSERT_NE(b.Find("kor.host"), nullptr);
  EXPECT_EQ(b.Find("kor.host")->values[1], 12);
  EXPECT_EQ(b.Find("kor.vm"), nullptr);
}

TEST(BudgetFile, RejectsMalformedFilesNamingTheLine) {
  EXPECT_EQ(Reject("kor\t1\n"), "b.tsv:1: a row before the header line ('# module<TAB>KEY...')");
  EXPECT_EQ(Reject("# only a comment\n"), "b.tsv:0: no header line ('# module<TAB>KEY...')");
  EXPECT_EQ(Reject("# module\n"), "b.tsv:1: the header names no column");
  EXPECT_EQ(Reject("# module\tmethods\tmethod\n"), "b.tsv:1: 'method' is not a quantity kortypes counts");
  EXPECT_EQ(Reject("# module\tmethods\tmethods\n"), "b.tsv:1: column 'methods' appears twice");
  EXPECT_EQ(Reject("# module\tmethods\nkor\t1\n# module\tmethods\n"),
            "b.tsv:3: a second header line");
  EXPECT_EQ(Reject("# module\tmethods\tparameters\nkor\t1\n"), "b.tsv:2: 1 values for 2 columns");
  EXPECT_EQ(Reject("# module\tmethods\nkor\t1\t2\n"), "b.tsv:2: 2 values for 1 columns");
  EXPECT_EQ(Reject("# module\tmethods\nkor\t-1\n"),
            "b.tsv:2: column 'methods': '-1' is not a non-negative integer");
  EXPECT_EQ(Reject("# module\tmethods\nkor\t1.5\n"),
            "b.tsv:2: column 'methods': '1.5' is not a non-negative integer");
  EXPECT_EQ(Reject("# module\tmethods\nkor\t\n"),
            "b.tsv:2: column 'methods': '' is not a non-negative integer");
  EXPECT_EQ(Reject("# module\tmethods\nkor\t1\nkor\t2\n"),
            "b.tsv:3: module 'kor' already has a row (line 2)");
  EXPECT_EQ(Reject("# module\tmethods\n\t1\n"), "b.tsv:2: a row without module name");
}

TEST(BudgetFile, MissingFileIsAnError) {
  Budget b;
  std::string error;
  EXPECT_FALSE(LoadBudget("/nonexistent/budget.tsv", &b, &error));
  EXPECT_EQ(error.rfind("/nonexistent/budget.tsv: cannot read", 0), 0u) << error;
}

// ---------------------------------------------------------------------------

Budget TwoColumnBudget() {
  Budget b;
  std::string error;
  EXPECT_TRUE(Parse("# module\tmethods\tparameters\nkor\t5\t9\nkor.host\t3\t4\nkor.gone\t1\t1\n", &b,
                    &error))
      << error;
  return b;
}

TEST(BudgetComparison, AtOrBelowBudgetFits) {
  Budget b = TwoColumnBudget();
  std::vector<std::pair<std::string, QuantityCounts>> declared = {
      {"kor", {{"methods", 5}, {"parameters", 9}}},       // exactly the budget
      {"kor.host", {{"methods", 0}, {"parameters", 4}}},  // below: still being filled
      {"kor.gone", {}},                                   // nothing declared counts as 0
  };
  BudgetComparison cmp = CompareWithBudget(b, declared);
  EXPECT_TRUE(cmp.Fits());
  EXPECT_TRUE(cmp.overruns.empty());
  EXPECT_EQ(cmp.declaredTotal, (std::vector<long long>{5, 13}));
  ASSERT_EQ(cmp.modules.size(), 3u);
  EXPECT_EQ(cmp.modules[2].declared, (std::vector<long long>{0, 0}));
}

TEST(BudgetComparison, OneOverInAnyColumnIsAnOverrun) {
  Budget b = TwoColumnBudget();
  BudgetComparison cmp = CompareWithBudget(
      b, {{"kor", {{"methods", 5}, {"parameters", 10}}},
          {"kor.host", {{"methods", 4}, {"parameters", 4}}},
          {"kor.gone", {}}});
  EXPECT_FALSE(cmp.Fits());
  ASSERT_EQ(cmp.overruns.size(), 2u);
  EXPECT_EQ(cmp.overruns[0].module, "kor");
  EXPECT_EQ(cmp.overruns[0].column, "parameters");
  EXPECT_EQ(cmp.overruns[0].declared, 10);
  EXPECT_EQ(cmp.overruns[0].budget, 9);
  EXPECT_EQ(cmp.overruns[1].module, "kor.host");
  EXPECT_EQ(cmp.overruns[1].column, "methods");
  EXPECT_EQ(cmp.modules[0].over, (std::vector<std::string>{"parameters"}));
  EXPECT_TRUE(cmp.modules[2].over.empty());
}

TEST(BudgetComparison, ModulesWithoutRowAndRowsWithoutModuleDoNotFit) {
  Budget b = TwoColumnBudget();
  BudgetComparison cmp =
      CompareWithBudget(b, {{"kor", {}}, {"kor.host", {}}, {"kor.new", {{"methods", 1}}}});
  EXPECT_FALSE(cmp.Fits());
  EXPECT_TRUE(cmp.overruns.empty());
  EXPECT_EQ(cmp.unbudgeted, (std::vector<std::string>{"kor.new"}));
  EXPECT_EQ(cmp.unknown, (std::vector<std::string>{"kor.gone"}));
  // The unbudgeted module's declarations still count toward the totals.
  EXPECT_EQ(cmp.declaredTotal[0], 1);
  EXPECT_EQ(cmp.modules[2].budget, nullptr);
}

// ---------------------------------------------------------------------------
// Counting from registered types. Each expectation follows from the type's
// declaration in the core module's schema.

QuantityCounts CountOf(std::vector<const Movel::Type*> types) {
  // Naming one of the library's records keeps it linked and registered.
  EXPECT_NE(Movel::GetType(&gKorServiceInstanceTypeInfo), nullptr);
  Module m;
  m.name = "test";
  m.types = std::move(types);
  return CountQuantities(m);
}

TEST(BudgetCounting, ServiceInstance) {
  const Movel::Type* t = Movel::FindType("kor.ServiceInstance");
  ASSERT_NE(t, nullptr);
  QuantityCounts c = CountOf({t});
  EXPECT_EQ(c["types.total"], 1);
  EXPECT_EQ(c["types.managed"], 1);
  EXPECT_EQ(c["types.data"], 0);
  // Six own methods, three own properties, each property also read through a
  // method object.
  EXPECT_EQ(c["methods"], 6);
  EXPECT_EQ(c["properties.managed"], 3);
  EXPECT_EQ(c["methodObjects.entries"], 9);
  EXPECT_EQ(c["methodConstants.types"], 1);
  EXPECT_EQ(c["flags.readonly.managedProps"], 3);
  EXPECT_EQ(c["parents.managedObject"], 1);
  EXPECT_EQ(c["methods.internal"], 1);  // retrieveInternalContent
  EXPECT_EQ(c["methods.task"], 0);
  // validateMigration has five parameters, queryLiveMigCompatibility three;
  // four of them are arrays, five optional, none secret.
  EXPECT_EQ(c["parameters"], 8);
  EXPECT_EQ(c["flags.array.params"], 4);
  EXPECT_EQ(c["flags.optional.params"], 5);
  EXPECT_EQ(c["flags.secret.params"], 0);
  // Three methods return optional arrays; currentTime and the two content
  // reads return single required values.
  EXPECT_EQ(c["flags.array.results"], 3);
  EXPECT_EQ(c["flags.optional.results"], 3);
  // Every property has a privilege.
  EXPECT_EQ(c["managedProperties.privilegeNull"], 0);
  EXPECT_EQ(c["properties.data"], 0);
}

TEST(BudgetCounting, PrivilegeOverridesAndTasksOfManagedEntity) {
  const Movel::Type* t = Movel::FindType("kor.ManagedEntity");
  ASSERT_NE(t, nullptr);
  QuantityCounts c = CountOf({t});
  // rename and destroy, both task methods, are the only ones with overrides.
  EXPECT_EQ(c["methods.withPrivilegeOverrides"], 2);
  EXPECT_GE(c["methods.task"], 2);
  EXPECT_EQ(c["parents.managedObject"], 0);  // it derives from ExtensibleManagedObject
}

TEST(BudgetCounting, SecretParametersAndResults) {
  const Movel::Type* t = Movel::FindType("kor.SessionManager");
  ASSERT_NE(t, nullptr);
  QuantityCounts c = CountOf({t});
  // login's password, loginBySessionTicket's ticket data, cloneSession's
  // clone ticket; the results of acquireCloneTicket and acquireSessionTicket.
  EXPECT_EQ(c["flags.secret.params"], 3);
  EXPECT_EQ(c["flags.secret.results"], 2);
}

TEST(BudgetCounting, DataTypeFlagsAndRedeclaredDynamicProperty) {
  const Movel::Type* spec = Movel::FindType("kor.DistributedVirtualSwitch.ConfigSpec");
  const Movel::Type* ticket = Movel::FindType("kor.HostServiceTicket");
  ASSERT_NE(spec, nullptr);
  ASSERT_NE(ticket, nullptr);
  QuantityCounts c = CountOf({spec, ticket});
  EXPECT_EQ(c["types.data"], 2);
  EXPECT_EQ(c["redeclaresDynamicProperty"], 1);  // the switch spec only
  EXPECT_EQ(c["flags.secret.dataProps"], 1);     // the ticket's sessionId
  // The redeclared dynamicProperty is an optional array.
  EXPECT_GE(c["flags.array.dataProps"], 1);
  EXPECT_GE(c["flags.optional.dataProps"], 1);
}

TEST(BudgetCounting, EveryQuantityIsReportedAndNothingElse) {
  QuantityCounts c = CountOf({});
  EXPECT_EQ(c.size(), Quantities().size());
  for (const Quantity& q : Quantities()) {
    ASSERT_EQ(c.count(q.key), 1u) << q.key;
    EXPECT_EQ(c[q.key], 0) << q.key;
  }
}

}  // namespace
}  // namespace kortypes
