#include "kelpo32/output/exports.h"
#include "kelpo32/output/layouts.h"
#include "kelpo32/output/row_writers.h"
#include "kelpo32/testing/test_support.h"
#include "runtime/textout.h"

#include <gtest/gtest.h>
#include <string>

namespace kelpo32::output {
namespace {

const RunStart Start{"T", "", "T"};

std::unique_ptr<walk::WalkConsumer> Plain(std::unique_ptr<RowWriter> writer) {
    return std::make_unique<PlainLayout>(tree::AllLevels, Start, std::move(writer));
}
std::unique_ptr<walk::WalkConsumer> NewJsonLinesExport() {
    return Plain(NewJsonRows());
}
std::unique_ptr<walk::WalkConsumer> NewTsvExport() {
    return Plain(NewTsvRows());
}
std::unique_ptr<walk::WalkConsumer> NewNcdu() {
    return NewNcduExport(Start);
}

// A start directory whose listing failed after two files, through an export's events.
std::string ExportPartlyRead(std::unique_ptr<walk::WalkConsumer> (*make)()) {
    testing::PrepareReport(60);
    std::unique_ptr<walk::WalkConsumer> form = make();
    const std::string path = "T";
    const std::string none;
    walk::WalkDir dir{path, none, none, 0, 0, 0};
    walk::WalkListing listing;
    form->Begin();
    form->DirStart(dir);
    for (const char* name : {"f1", "f2"}) {
        walk::WalkEntry entry{walk::EntryKind::File,      name, 2, 4096, 1, 7, 1,
                              runtime::EntryType::Regular};
        listing.FileCount += 1;
        listing.FileBytes += 2;
        if (form->NeedsEntries()) form->Entry(dir, entry);
    }
    listing.Problem = walk::DirProblem::Unexpected;
    listing.Reason = "input/output error";
    listing.Partial = true;
    form->DirListed(dir, listing);
    form->DirDone(dir, listing, listing.FileBytes);
    form->End();
    runtime::StdOut().Flush();
    return testing::Captured();
}

TEST(Exports, APartlyReadDirectoryKeepsItsCountsAndSaysSoInEveryForm) {
    std::string json = ExportPartlyRead(NewJsonLinesExport);
    EXPECT_NE(json.find("\"files\":2,\"bytes\":4,"), std::string::npos) << json;
    EXPECT_TRUE(json.ends_with(",\"error\":\"input/output error\",\"partial\":true}\n")) << json;

    EXPECT_EQ(ExportPartlyRead(NewTsvExport), "4\t2\t4\t2\tT\tpartial: input/output error\n");

    // Its info object, which says so, comes before its entries.
    std::string ncdu = ExportPartlyRead(NewNcdu);
    std::size_t info = ncdu.find("[{\"name\":\"T\"");
    std::size_t error = ncdu.find("\"read_error\":true");
    ASSERT_NE(info, std::string::npos) << ncdu;
    EXPECT_LT(error, ncdu.find("{\"name\":\"f1\"")) << ncdu;
    EXPECT_LT(info, error) << ncdu;
    EXPECT_NE(ncdu.find("{\"name\":\"f2\",\"asize\":2,\"dsize\":4096}"), std::string::npos);
}

} // namespace
} // namespace kelpo32::output
