#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "NptReferences.h"

namespace {

// Objects that log their destruction, so tests can see exactly which
// object died, how often and in which order.
std::vector<std::string> g_destroyed;

class Base
{
public:
    explicit Base(std::string name) : m_Name(std::move(name)) {}
    virtual ~Base() { g_destroyed.push_back(m_Name); }
    const std::string& Name() const { return m_Name; }

private:
    std::string m_Name;
};

class Derived : public Base
{
public:
    explicit Derived(std::string name) : Base(std::move(name)) {}
    ~Derived() override { g_destroyed.push_back("~Derived"); }
};

// Holds a handle to another object, as a wrapping stream holds the
// stream it wraps.
class Wrapper : public Base
{
public:
    Wrapper(std::string name, const NPT_Reference<Base>& inner)
        : Base(std::move(name)), m_Inner(inner) {}
    ~Wrapper() override { g_destroyed.push_back("~" + Name()); }

private:
    NPT_Reference<Base> m_Inner;
};

class ReferenceTest : public ::testing::Test
{
protected:
    void SetUp() override { g_destroyed.clear(); }
    void TearDown() override { g_destroyed.clear(); }
};

using Log = std::vector<std::string>;

TEST_F(ReferenceTest, EmptyHandlesHoldNoCount)
{
    NPT_Reference<Base> empty;
    NPT_Reference<Base> from_null(nullptr);
    EXPECT_TRUE(empty.IsNull());
    EXPECT_EQ(0u, from_null.GetCount());

    NPT_Reference<Base> copy(empty);
    EXPECT_EQ(0u, copy.GetCount());
    empty.Release();
    empty.Release();
    EXPECT_TRUE(empty.IsNull());
    EXPECT_TRUE(g_destroyed.empty());
}

TEST_F(ReferenceTest, CopiesShareOneCountAndTheLastDeletesOnce)
{
    {
        NPT_Reference<Base> a(new Base("x"));
        EXPECT_EQ(1u, a.GetCount());
        {
            NPT_Reference<Base> b(a);
            NPT_Reference<Base> c;
            c = b;
            EXPECT_EQ(3u, a.GetCount());
            EXPECT_EQ(a.AsPointer(), c.AsPointer());
        }
        EXPECT_EQ(1u, a.GetCount());
        EXPECT_TRUE(g_destroyed.empty());
        EXPECT_EQ("x", a->Name());
        EXPECT_EQ("x", (*a).Name());
    }
    EXPECT_EQ(Log{"x"}, g_destroyed);
}

TEST_F(ReferenceTest, AnyTwoOfThreeLeaveTheObjectAlive)
{
    NPT_Reference<Base> a(new Base("x"));
    NPT_Reference<Base> b(a);
    NPT_Reference<Base> c(b);
    b.Release();
    a = NPT_Reference<Base>();
    EXPECT_EQ(1u, c.GetCount());
    EXPECT_TRUE(g_destroyed.empty());
    c.Release();
    EXPECT_EQ(Log{"x"}, g_destroyed);
}

TEST_F(ReferenceTest, DerivedToBaseViewSharesTheCount)
{
    {
        NPT_Reference<Base> base_view;
        {
            NPT_Reference<Derived> derived(new Derived("d"));
            base_view = derived;
            EXPECT_EQ(2u, derived.GetCount());
            NPT_Reference<Base> constructed(derived);
            EXPECT_EQ(3u, base_view.GetCount());
            EXPECT_EQ(static_cast<Base*>(derived.AsPointer()), constructed.AsPointer());
        }
        EXPECT_TRUE(g_destroyed.empty());
        EXPECT_EQ(1u, base_view.GetCount());
    }
    // deleted once, through the virtual destructor of the base view
    EXPECT_EQ((Log{"~Derived", "d"}), g_destroyed);
}

TEST_F(ReferenceTest, AssigningToItselfOrToASharerChangesNothing)
{
    NPT_Reference<Base> a(new Base("x"));
    NPT_Reference<Base>& same = a;
    a = same;
    EXPECT_EQ(1u, a.GetCount());
    EXPECT_FALSE(a.IsNull());

    NPT_Reference<Base> b(a);
    a = b;
    b = a;
    EXPECT_EQ(2u, a.GetCount());
    EXPECT_TRUE(g_destroyed.empty());
}

TEST_F(ReferenceTest, AssigningANewPointerDeletesTheOldObjectFirst)
{
    struct Probe : Base {
        explicit Probe(std::string name) : Base(name) { g_destroyed.push_back("new " + name); }
    };
    NPT_Reference<Base> handle(new Base("old"));
    handle = new Probe("fresh");
    // operand evaluation creates the new object; the old one dies before
    // the handle takes it
    EXPECT_EQ((Log{"new fresh", "old"}), g_destroyed);
    EXPECT_EQ("fresh", handle->Name());
    EXPECT_EQ(1u, handle.GetCount());

    handle = static_cast<Base*>(nullptr);
    EXPECT_TRUE(handle.IsNull());
    EXPECT_EQ((Log{"new fresh", "old", "fresh"}), g_destroyed);
}

TEST_F(ReferenceTest, AssignmentReleasesTheOldShareBeforeTakingTheNew)
{
    NPT_Reference<Base> a(new Base("a"));
    NPT_Reference<Base> b(new Base("b"));
    NPT_Reference<Base> b2(b);
    a = b;
    EXPECT_EQ(Log{"a"}, g_destroyed);
    EXPECT_EQ(3u, b.GetCount());
}

TEST_F(ReferenceTest, ExplicitReleaseDoesNotGiveUpASecondShare)
{
    NPT_Reference<Base> keeper(new Base("x"));
    {
        NPT_Reference<Base> other(keeper);
        other.Release();
        EXPECT_TRUE(other.IsNull());
        EXPECT_EQ(1u, keeper.GetCount());
        other.Release();
        EXPECT_EQ(1u, keeper.GetCount());
    }
    // the destructor of the released handle took nothing either
    EXPECT_EQ(1u, keeper.GetCount());
    EXPECT_TRUE(g_destroyed.empty());
}

TEST_F(ReferenceTest, ReleaseCascadesDownAChain)
{
    NPT_Reference<Base> outer;
    {
        NPT_Reference<Base> inner(new Base("inner"));
        outer = new Wrapper("outer", inner);
        EXPECT_EQ(2u, inner.GetCount());
    }
    EXPECT_TRUE(g_destroyed.empty());
    outer.Release();
    // the wrapper's own destructor runs first, then its handle lets go of
    // the inner object, then the wrapper's base part goes
    EXPECT_EQ((Log{"~outer", "inner", "outer"}), g_destroyed);
}

// A list node that holds the only handle to the next node.
struct Node : Base {
    explicit Node(std::string name) : Base(std::move(name)) {}
    NPT_Reference<Node> next;
};

TEST_F(ReferenceTest, AssigningFromAHandleInsideTheReleasedObject)
{
    NPT_Reference<Node> head(new Node("first"));
    head->next = new Node("second");
    // head holds the only share of "first", whose member is the source
    head = head->next;
    EXPECT_EQ(Log{"first"}, g_destroyed);
    EXPECT_EQ("second", head->Name());
    EXPECT_EQ(1u, head.GetCount());
    head.Release();
    EXPECT_EQ((Log{"first", "second"}), g_destroyed);
}

} // namespace
