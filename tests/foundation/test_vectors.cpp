#include "foundation/Registra.h"
#include "foundation/Vectors.h"

#include "support/FixedClock.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Points the common log at a fresh folder with a fixed clock for one test.
class VectorsTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegistraGPS.SetFileName(dir_.Path("quillmap.log").c_str());
        RegistraGPS.SetClock(dltest::FixedLogTime);
        SetRegistraComun(&RegistraGPS);
        nerr_vectores_dg = 0;
    }
    void TearDown() override { RegistraGPS.SetClock(nullptr); }
    std::string Log() const { return dir_.Read("quillmap.log"); }

    dltest::TempDir dir_{"strings-vec"};
};

// Runs f and returns the code of the vector error it raises (-1 when none).
template <class F> int CodeOf(F f) {
    try {
        f();
    } catch (const TXErrorVectoresDG& e) {
        return e.code;
    }
    return -1;
}

struct Counted {
    static int alive;
    explicit Counted(int v = 0) : value(v) { alive++; }
    Counted(const Counted& o) : value(o.value) { alive++; }
    ~Counted() { alive--; }
    int value;
};
int Counted::alive = 0;

struct Named {
    explicit Named(const char* n = "") : name(n) {}
    const DString& Nombre() const { return name; }
    DString name;
};

} // namespace

TEST_F(VectorsTest, IndexErrorsTable) {
    VectorS<DString> v;
    EXPECT_EQ(v.Anyade(DString("x"), 5), 5);
    EXPECT_EQ(v.Numero(), 6);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(v.Ptr(i), nullptr);
    EXPECT_EQ(v[5], "x");
    const VectorS<DString>& cv = v;
    struct Case {
        const char* what;
        std::function<void()> call;
        int code;
    } cases[] = {
        {"empty slot", [&] { v[2]; }, 8},
        {"past the count", [&] { v[6]; }, 7},
        {"negative", [&] { v[-1]; }, 7},
        {"const empty slot", [&] { cv[2]; }, 10},
        {"const past the count", [&] { cv[6]; }, 9},
        {"const negative", [&] { cv[-3]; }, 9},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CodeOf(c.call), c.code) << c.what;
    EXPECT_EQ(nerr_vectores_dg.load(), 6);
}

TEST_F(VectorsTest, ErrorLineInTheCommonLog) {
    VectorS<int> v(10, 10);
    v.Anyade(1);
    v.Anyade(2);
    EXPECT_THROW(v[5], TXErrorVectoresDG);
    std::string log = Log();
    const std::string tail = "] VDGerr:7-operator[]-tot:2,index:5,max:10,delta:10 ";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
    const std::string head = "\r\n2020-04-22 17:38:05  [pid:";
    EXPECT_EQ(log.compare(0, head.size(), head), 0) << log;
    EXPECT_EQ(log.find("\r\n", 2), std::string::npos); // exactly one line
}

TEST_F(VectorsTest, Only255ReportsReachTheLog) {
    VectorS<int> v;
    nerr_vectores_dg = 254;
    EXPECT_EQ(CodeOf([&] { v[1]; }), 7); // report 255: written
    EXPECT_EQ(CodeOf([&] { v[2]; }), 7); // report 256: thrown, not written
    std::string log = Log();
    EXPECT_NE(log.find("index:1,"), std::string::npos);
    EXPECT_EQ(log.find("index:2,"), std::string::npos);
}

TEST_F(VectorsTest, BaseIndexCodes) {
    VectorS<int> s;
    VectorP<int> p;
    s.SetBase(10);
    p.SetBase(10);
    EXPECT_EQ(CodeOf([&] { s.Anyade(1, 3); }), 12);
    EXPECT_EQ(CodeOf([&] { s.Anyade_Pos(3); }), 13);
    EXPECT_EQ(CodeOf([&] { p.Anyade(new int(1), 3); }), 14);
    EXPECT_EQ(CodeOf([&] { p.Anyade(nullptr); }), 16);
    EXPECT_EQ(s.Anyade(7), 10);
    EXPECT_EQ(s[10], 7);
    EXPECT_EQ(CodeOf([&] { s[0]; }), 7);
}

TEST_F(VectorsTest, FixedSizeVectorsRefuseToGrow) {
    VectorS<int> fixed(2, 0);
    fixed.Anyade(1);
    fixed.Anyade(2);
    EXPECT_EQ(CodeOf([&] { fixed.Anyade(3); }), 6);
    EXPECT_EQ(fixed.Numero(), 2);
    VectorS<int> none(0, 0);
    EXPECT_EQ(CodeOf([&] { none.Anyade(1); }), 6);
    Counted::alive = 0;
    {
        VectorS<Counted> full(1, 0);
        full.Anyade(Counted(1));
        EXPECT_EQ(CodeOf([&] { full.Anyade(Counted(2)); }), 6);
    }
    EXPECT_EQ(Counted::alive, 0); // nothing leaked by the refused add
}

TEST(Vectors, GrowthSteps) {
    VectorS<int> linear(10, 10);
    for (int i = 0; i < 11; i++)
        linear.Anyade(i);
    EXPECT_EQ(linear.Capacidad(), 20);

    VectorS<int> geometric(2, -20);
    for (int i = 0; i < 3; i++)
        geometric.Anyade(i);
    EXPECT_EQ(geometric.Capacidad(), 22);
    for (int i = 3; i < 23; i++)
        geometric.Anyade(i);
    EXPECT_EQ(geometric.Capacidad(), 62); // the step doubled to 40 once smaller than 22
    for (int i = 23; i < 1000; i++)
        geometric.Anyade(i);
    EXPECT_LT(geometric.Capacidad(), 4000);
    for (int i = 0; i < 1000; i++)
        ASSERT_EQ(geometric[i], i);

    geometric.Vacia();
    EXPECT_EQ(geometric.Numero(), 0);
    EXPECT_EQ(geometric.Capacidad(), 2);
    EXPECT_EQ(geometric.Step(), -20);
    geometric.Anyade(5);
    EXPECT_EQ(geometric[0], 5);

    linear.Compacta();
    EXPECT_EQ(linear.Capacidad(), 11);
    linear.Anyade(11);
    EXPECT_EQ(linear[11], 11);
}

TEST(Vectors, InsertRemoveAndOwnership) {
    Counted::alive = 0;
    {
        VectorS<Counted> v(2, 2);
        v.Anyade(Counted(1));
        v.Anyade(Counted(3));
        EXPECT_EQ(v.Anyade(Counted(2), 1), 1);
        ASSERT_EQ(v.Numero(), 3);
        EXPECT_EQ(v[0].value * 100 + v[1].value * 10 + v[2].value, 123);
        EXPECT_EQ(Counted::alive, 3);
        EXPECT_TRUE(v.Elimina(0));
        EXPECT_EQ(Counted::alive, 2);
        EXPECT_FALSE(v.Elimina(2));
        EXPECT_FALSE(v.Elimina(-1));
        EXPECT_EQ(v[0].value, 2);
        v.Anyade_Pos(4).value = 9;
        EXPECT_EQ(v.Numero(), 5);
        EXPECT_EQ(v[4].value, 9);

        VectorS<Counted> copy(v);
        EXPECT_EQ(copy.Numero(), 5);
        EXPECT_EQ(copy.Ptr(2), nullptr);
        copy[0].value = 42;
        EXPECT_EQ(v[0].value, 2); // deep copy
        copy = copy;
        EXPECT_EQ(copy[0].value, 42);
    }
    EXPECT_EQ(Counted::alive, 0);

    {
        VectorP<Counted> p(5, 5);
        p.Anyade(new Counted(1));
        EXPECT_EQ(p.Anyade(new Counted(5), 4), 4); // beyond the count: extends it
        EXPECT_EQ(p.Numero(), 5);
        EXPECT_EQ(p.Anyade(new Counted(3), 2), 2); // into an empty slot: no shift
        EXPECT_EQ(p.Numero(), 5);
        EXPECT_EQ(p.Anyade(new Counted(0), 0), 0); // into an occupied slot: shifts up
        EXPECT_EQ(p.Numero(), 6);
        EXPECT_EQ(p[1]->value, 1);
        EXPECT_EQ(p[3]->value, 3);
        EXPECT_EQ(p[5]->value, 5);
        Counted* out = p.Extrae(5);
        EXPECT_EQ(Counted::alive, 4);
        delete out;
        p.Anyade()->value = 7;
        EXPECT_EQ(p[5]->value, 7);
    }
    EXPECT_EQ(Counted::alive, 0);

    Counted kept;
    {
        VectorP<Counted> borrowed(2, 2, false);
        borrowed.Anyade(&kept);
    }
    EXPECT_EQ(Counted::alive, 1);
}

TEST(Vectors, SortAndBinarySearch) {
    VectorPO<Named> v(2, -10);
    for (const char* n : {"pear", "apple", "fig", "Zebra", "banana"})
        v.Anyade(new Named(n));
    v.QuickSort();
    std::vector<std::string> names;
    for (int i = 0; i < v.Numero(); i++)
        names.emplace_back(v[i]->name.c_str());
    EXPECT_EQ(names, (std::vector<std::string>{"Zebra", "apple", "banana", "fig", "pear"}));
    EXPECT_EQ(v.Busca_Numero_Dico("fig"), 3);
    EXPECT_EQ(v.Busca_Numero_Dico("Zebra"), 0);
    EXPECT_EQ(v.Busca_Numero_Dico("zebra"), -1);
    EXPECT_EQ(v.AnyadeOrdenado(new Named("cherry")), 3);
    EXPECT_EQ(v.AnyadeOrdenado(new Named("zz")), 6);
    EXPECT_EQ(v.Busca_Numero_Dico("cherry"), 3);
    EXPECT_EQ(v.Busca_Numero_Dico("pear"), 5);

    VectorPO<DString> texts;
    for (const char* n : {"b", "c", "a"})
        texts.Anyade(new DString(n));
    texts.QuickSort();
    EXPECT_EQ(*texts[0], "a");
    EXPECT_EQ(texts.Busca_Numero_Dico("c"), 2);

    VectorS<int> nums;
    for (int n : {5, 3, 9, 1})
        nums.Anyade(n);
    nums.QuickSortF(
        1, 3,
        [](const void* a, const void* b, void* ctx) {
            ++*static_cast<int*>(ctx);
            return *static_cast<const int*>(a) - *static_cast<const int*>(b);
        },
        &nums[0]);
    EXPECT_EQ(nums[1], 1);
    EXPECT_EQ(nums[2], 3);
    EXPECT_EQ(nums[3], 9);
    EXPECT_GT(nums[0], 5); // the context saw the calls
}
