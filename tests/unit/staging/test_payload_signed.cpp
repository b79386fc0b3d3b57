// SPDX-License-Identifier: Apache-2.0
// Finding a signed payload (a ".zip" and a ".sig") in ./payload.
#include "KaverTest.h"

namespace {

class PayloadSignedTest : public KaverTest {};

TEST_F(PayloadSignedTest, NeedsAZipAndASignature) {
    struct Row {
        const char* name;
        std::vector<std::string> listing;
        bool signedPayload;
        std::string payload;  // m_strPayloadFileName afterwards
        std::vector<std::string> log;
    };
    const Row rows[] = {
        {"pair", {"payload/fw.zip", "payload/fw.zip.sig"}, true, "payload/fw.zip",
         {"IsPayloadSigned :: Payload Signing Started\n", "FileName = payload/fw.zip",
          "IsPayloadSigned :: strExtension(.zip) = .zip", "IsPayloadSigned :: m_strPayloadFileName = payload/fw.zip",
          "FileName = payload/fw.zip.sig", "IsPayloadSigned :: strExtension(.sign) = .sig",
          "IsPayloadSigned :: Zip and Sign file exists"}},
        {"two archives: the one listed last", {"payload/a.zip", "payload/x.sig", "payload/b.zip"}, true,
         "payload/b.zip", {"IsPayloadSigned :: Zip and Sign file exists"}},
        {"base names need not match", {"payload/s.sig", "payload/other.zip"}, true, "payload/other.zip", {}},
        {"single archive", {"payload/fw.zip"}, false, "unchanged", {"Payload or Sign File not found \n"}},
        {"empty or missing folder", {}, false, "unchanged", {"Payload or Sign File not found \n"}},
        {"archive without signature", {"payload/fw.zip", "payload/readme.txt"}, false, "payload/fw.zip",
         {"IsPayloadSigned :: Payload Signing failed. Zip or Sing file does not exist"}},
        {"signature without archive", {"payload/fw.sig", "payload/fw.tar"}, false, "unchanged",
         {"IsPayloadSigned :: Payload Signing failed. Zip or Sing file does not exist"}},
        {"capitals are not recognised", {"payload/FW.ZIP", "payload/FW.SIG"}, false, "unchanged", {}},
        {"extension is the text after the last dot", {"payload/fw.zip.bak", "payload/a.sig.zip"}, false,
         "payload/a.sig.zip", {}},
        {"names without a dot", {"payload/zip", "payload/sig"}, false, "unchanged", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        enableDebugLog();
        build();
        platform.listings["payload"] = row.listing;
        std::string payload = "unchanged";

        EXPECT_EQ(kaver->IsPayloadSigned(payload), row.signedPayload);

        EXPECT_EQ(payload, row.payload);
        for (const std::string& line : row.log) EXPECT_TRUE(logHasInOrder(newLog(), {line}));
    }
}

TEST_F(PayloadSignedTest, ListsTheRelativePayloadFolderThroughThePlatform) {
    build();
    std::string payload;
    platform.listings["payload"] = {"payload/a.zip", "payload/a.zip.sig"};
    EXPECT_TRUE(kaver->IsPayloadSigned(payload));
    platform.listings.erase("payload");
    platform.listings["./payload"] = {"payload/a.zip", "payload/a.zip.sig"};
    EXPECT_FALSE(kaver->IsPayloadSigned(payload)) << "the folder is named exactly \"payload\"";
}

}  // namespace
