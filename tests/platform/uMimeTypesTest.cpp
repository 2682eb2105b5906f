#include "platform/uMimeTypes.h"

#include <gtest/gtest.h>

#include "platform/TempDir.h"

using namespace zelto;
using namespace zelto::test;

TEST(MimeTable, BuiltInWebTypesThenTheSystemTable) {
    TTempDir dir;
    WriteFileText(dir / "mime.types",
                  "# comment\napplication/x-demo\tdemo DMO\ntext/x-fake html\nimage/png png\nnot-a-type ignored\n");
    const TMimeTable table(dir / "mime.types");
    const struct {
        const char* path;
        const char* type;
    } cases[] = {
        {"/x/page.html", "text/html"},  // the built-in entry wins over the file's
        {"/x/PAGE.HTM", "text/html"},
        {"/x/a.demo", "application/x-demo"},
        {"/x/a.DmO", "application/x-demo"},
        {"/x/a.png", "image/png"},
        {"/x/app.js", "text/javascript"},
        {"/x/a.unknown", "application/octet-stream"},
        {"/x/noext", "application/octet-stream"},
        {"/x.demo/noext", "application/octet-stream"},  // a dot in a folder name is no extension
        {"/x/a.ignored", "application/octet-stream"},
    };
    for (const auto& c : cases) EXPECT_EQ(table.ContentTypeOf(c.path), c.type) << c.path;
}

TEST(MimeTable, MissingSystemFileLeavesTheBuiltInTable) {
    const TMimeTable table("/nonexistent/mime.types");
    EXPECT_EQ(table.ContentTypeOf("a.css"), "text/css");
    EXPECT_EQ(table.ContentTypeOf("a.doc"), "application/octet-stream");
}
