// The error object's message composition and the per-thread chain of error scopes.
#include "decode/error.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/module.h"
#include "test_support.h"
#include "tests/platform/fixture.h"

namespace br {
namespace {

using test::CountingError;

plat::HMODULE LibraryModule() {
    return plat::GetModuleOfAddress(reinterpret_cast<const void*>(&AttachLibrary));
}

std::u16string MessageOf(CIAException& error, std::uint32_t capacity = 600) {
    std::u16string buffer(capacity, u'#');
    EXPECT_EQ(error.GetErrorMessage(buffer.data(), capacity), 1u);
    return std::u16string(buffer.c_str());
}

std::u16string Text(std::uint32_t id) {
    char16_t buffer[520];
    const int n = plat::LoadString(MessageModule(), id, buffer, 520);
    return std::u16string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// A guarded block that catches an error and hands it on, as CImgData::Create does.
void CatchAndThrowOn(CIAException* error) {
    ErrorScope scope;
    try {
        throw error;
    } catch (CIAException* caught) {
        scope.pending = caught;
        ReleaseCurrentError();
        throw caught;
    }
}

// ---- Scopes ------------------------------------------------------------------------------

TEST(ErrorScopeTest, PendingErrorIsDeletedWhenItsScopeEnds) {
    CountingError::live = 0;
    {
        ErrorScope scope;
        try {
            throw static_cast<CIAException*>(new CountingError(ErrorCorruptData, 1, 2, 3));
        } catch (CIAException* error) {
            scope.pending = error;
        }
        EXPECT_EQ(CountingError::live, 1);
    }
    EXPECT_EQ(CountingError::live, 0);
}

TEST(ErrorScopeTest, ReleasedErrorReachesTheNextHandlerIntactAndOnlyItsScopeDeletesIt) {
    CountingError::live = 0;
    {
        ErrorScope outer;
        try {
            CatchAndThrowOn(new CountingError(ErrorOutOfMemory, 3003, 122, 542));
        } catch (CIAException* error) {
            outer.pending = error;
            EXPECT_EQ(CountingError::live, 1);  // the inner scope did not delete it
            test::ExpectError(error, ErrorOutOfMemory, 3003, 122, 542);
        }
        EXPECT_EQ(CountingError::live, 1);
    }
    EXPECT_EQ(CountingError::live, 0);
}

TEST(ErrorScopeTest, EndingAScopeRestoresThePreviousInnermostScope) {
    CountingError::live = 0;
    auto* first = new CountingError(ErrorCorruptData, 1, 1, 1);
    auto* second = new CountingError(ErrorCorruptData, 2, 2, 2);
    {
        ErrorScope outer;
        outer.pending = first;
        {
            ErrorScope inner;
            inner.pending = second;
            ReleaseCurrentError();  // only the innermost scope forgets its error
            EXPECT_EQ(inner.pending, nullptr);
            EXPECT_EQ(outer.pending, first);
        }
        { ErrorScope caughtNothing; }
        EXPECT_EQ(CountingError::live, 2);  // neither inner scope deleted anything
        ReleaseCurrentError();              // the outer scope is innermost again
        EXPECT_EQ(outer.pending, nullptr);
    }
    EXPECT_EQ(CountingError::live, 2);
    delete first;
    delete second;
}

TEST(ErrorScopeTest, ReleaseWithoutAScopeAndANullErrorAreHarmless) {
    ReleaseCurrentError();
    ErrorScope scope;
    try {
        throw static_cast<CIAException*>(nullptr);  // what a raising site throws without memory
    } catch (CIAException* error) {
        scope.pending = error;
    }
}

TEST(ErrorScopeTest, EachThreadKeepsItsOwnChain) {
    CountingError::live = 0;
    std::atomic<int> step{0};
    auto waitFor = [&step](int s) {
        while (step.load() < s) std::this_thread::yield();
    };
    std::thread a([&] {
        platform_test::DeviceThreadScope device;
        auto* error = new CountingError(ErrorCorruptData, 1, 0, 0);
        ErrorScope outer;
        outer.pending = error;
        step = 1;
        waitFor(2);  // the other thread now runs two scopes of its own
        {
            auto* innerError = new CountingError(ErrorCorruptData, 1, 1, 0);
            ErrorScope inner;
            inner.pending = innerError;
            ReleaseCurrentError();
            EXPECT_EQ(inner.pending, nullptr);
            EXPECT_EQ(outer.pending, error);
            delete innerError;
        }
        step = 3;
        waitFor(4);
        ReleaseCurrentError();
        EXPECT_EQ(outer.pending, nullptr);
        delete error;
    });
    std::thread b([&] {
        platform_test::DeviceThreadScope device;
        waitFor(1);
        auto* error = new CountingError(ErrorCorruptData, 2, 0, 0);
        auto* innerError = new CountingError(ErrorCorruptData, 2, 1, 0);
        ErrorScope outer;
        outer.pending = error;
        {
            ErrorScope inner;
            inner.pending = innerError;
            step = 2;
            waitFor(3);  // the other thread released its own errors meanwhile
            EXPECT_EQ(inner.pending, innerError);
        }
        EXPECT_EQ(outer.pending, error);
        step = 4;
    });
    a.join();
    b.join();
    EXPECT_EQ(CountingError::live, 0);
}

TEST(ErrorScopeTest, ScopesKeepTheirProtocolWhenNoThreadLocalSlotIsLeft) {
    DetachLibrary();
    std::vector<std::uint32_t> taken;
    for (std::uint32_t slot = plat::TlsAlloc(); slot != plat::TLS_OUT_OF_INDEXES;
         slot = plat::TlsAlloc()) {
        taken.push_back(slot);
    }
    AttachLibrary(LibraryModule());  // finds no free slot

    CountingError::live = 0;
    {
        ErrorScope outer;
        try {
            CatchAndThrowOn(new CountingError(ErrorOutOfMemory, 3003, 122, 530));
        } catch (CIAException* error) {
            outer.pending = error;
            EXPECT_EQ(CountingError::live, 1);
        }
    }
    EXPECT_EQ(CountingError::live, 0);

    DetachLibrary();
    for (std::uint32_t slot : taken) plat::TlsFree(slot);
    AttachLibrary(LibraryModule());
}

// ---- Messages ----------------------------------------------------------------------------

TEST(ErrorMessageTest, UsesTheTextOfTheCodeAndAppendsTheNumbersOnce) {
    ASSERT_FALSE(Text(ErrorFileLoad).empty());
    CIAException error(ErrorFileLoad, 30001, 18, 1, 0);
    EXPECT_EQ(error.message[0], 0);  // composed only when asked
    const std::u16string expected = Text(ErrorFileLoad) + u"\n30001:18:1:0";
    EXPECT_EQ(MessageOf(error), expected);
    EXPECT_EQ(MessageOf(error), expected);
    EXPECT_EQ(error.GetErrorCode(), ErrorFileLoad);
    EXPECT_EQ(error.GetErrorDetail(), 0u);
}

TEST(ErrorMessageTest, FallsBackToTheGenericText) {
    CIAException error(45999, 38000, 39, 101, 0);
    EXPECT_EQ(MessageOf(error), Text(ErrorGeneric) + u"\n38000:39:101:0");
}

TEST(ErrorMessageTest, AllZeroNumbersGetNoSuffix) {
    CIAException error(ErrorNoFrames, 0, 0, 0, 0);
    EXPECT_EQ(MessageOf(error), Text(ErrorNoFrames));
    CIAException onlyDetail(ErrorNoFrames, 0, 0, 0, 4294967295u);
    EXPECT_EQ(MessageOf(onlyDetail), Text(ErrorNoFrames) + u"\n0:0:0:4294967295");
}

TEST(ErrorMessageTest, CopiesWithinTheCallersCapacity) {
    CIAException error(ErrorNoFrames, 1, 2, 3, 4);
    const std::u16string whole = MessageOf(error);
    const auto length = static_cast<std::uint32_t>(whole.size());

    char16_t one[1] = {u'#'};
    error.GetErrorMessage(one, 1);
    EXPECT_EQ(one[0], 0);

    std::u16string exact(length + 1, u'#');
    error.GetErrorMessage(exact.data(), length + 1);
    EXPECT_EQ(exact, whole + u'\0');

    std::u16string shortByOne(length, u'#');
    error.GetErrorMessage(shortByOne.data(), length);
    EXPECT_EQ(shortByOne, whole.substr(0, length - 1) + u'\0');
}

TEST(ErrorMessageTest, WithoutAnyTextTheMessageIsTheLineFeedAndNumbers) {
    AttachLibrary(nullptr);
    CIAException error(ErrorCorruptData, 38003, 64, 2, 0);
    const std::u16string message = MessageOf(error);
    AttachLibrary(LibraryModule());
    EXPECT_EQ(message, u"\n38003:64:2:0");
}

TEST(ErrorMessageTest, LongTextsAreCutAt519UnitsAndTheSuffixWithThem) {
    const std::u16string longText(600, u'x');
    const plat::StringResource table[] = {{ErrorGeneric, longText.c_str()}};
    plat::SetModuleStrings(MessageModule(), table, 1);
    CIAException error(ErrorCorruptData, 1, 2, 3, 4);
    const std::u16string message = MessageOf(error);
    AttachLibrary(LibraryModule());  // the library's own table again
    EXPECT_EQ(message, std::u16string(519, u'x'));

    // A text just short of the limit keeps as much of the suffix as fits.
    const std::u16string nearlyFull(515, u'y');
    const plat::StringResource table2[] = {{ErrorGeneric, nearlyFull.c_str()}};
    plat::SetModuleStrings(MessageModule(), table2, 1);
    CIAException cut(ErrorCorruptData, 1, 2, 3, 4);
    const std::u16string cutMessage = MessageOf(cut);
    AttachLibrary(LibraryModule());
    EXPECT_EQ(cutMessage, nearlyFull + u"\n1:2");
}

TEST(ErrorMessageTest, NewErrorStartsEmptyWithDetailZeroAndAutoDelete) {
    CIAException* error = NewError(ErrorOutOfMemory, 30001, 146, 3);
    test::ExpectError(error, ErrorOutOfMemory, 30001, 146, 3);
    EXPECT_TRUE(error->autoDelete);
    EXPECT_EQ(error->message[0], 0);
    delete error;
}

}  // namespace
}  // namespace br
