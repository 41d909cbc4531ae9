// The script calculator: operand order of the non-commutative operators, stack movement,
// number entry and recall, and the limit tests at, inside and outside their limits.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "script/rpn.h"

static ScriptRunner Fresh()
{
    ScriptRunner r{};  // zero, as at start-up: the calculator needs nothing else
    return r;
}

// Runs each text as an '=' line.
static void Evaluate(ScriptRunner *r, const std::vector<const char *> &texts)
{
    for (const char *t : texts) RpnEvaluate(r, t);
}

static std::string Stack(const ScriptRunner &r)
{
    char text[128];
    snprintf(text, sizeof text, "X=%g Y=%g Z=%g T=%g", r.stackX, r.stackY, r.stackZ, r.stackT);
    return text;
}

TEST(Rpn, OperatorsAndStackMovement)
{
    static const struct {
        std::vector<const char *> texts;
        const char *stack;
    } cases[] = {
        {{"10", "2", "/"}, "X=0.2 Y=0 Z=0 T=0"},  // X (last entered) divided by Y
        {{"2", "10", "div"}, "X=5 Y=0 Z=0 T=0"},
        {{"3", "5", "-"}, "X=2 Y=0 Z=0 T=0"},      // Y subtracted from X
        {{"3", "5", "sub"}, "X=2 Y=0 Z=0 T=0"},
        {{"3", "5", "*"}, "X=15 Y=0 Z=0 T=0"},
        {{"1", "2", "3", "4"}, "X=4 Y=3 Z=2 T=1"},
        {{"1", "2", "3", "4", "+"}, "X=7 Y=2 Z=1 T=1"},  // T stays and fills Z
        {{"1", "2", "3", "4", "add"}, "X=7 Y=2 Z=1 T=1"},
        {{"1", "2", "3", "4", "roll"}, "X=3 Y=2 Z=1 T=4"},
        {{"1", "2", "3", "4", "drop"}, "X=3 Y=2 Z=1 T=1"},
        {{"1", "2", "3", "4", "swap"}, "X=3 Y=4 Z=2 T=1"},
        {{"1", "2", "3", "4", "5"}, "X=5 Y=4 Z=3 T=2"},  // old T is lost
        {{"5", "enter"}, "X=5 Y=5 Z=0 T=0"},
        {{"1", "2", "5", "^"}, "X=5 Y=5 Z=2 T=1"},
        {{"16", "sqrt"}, "X=4 Y=0 Z=0 T=0"},
        {{"7", "[0"}, "X=7 Y=0 Z=0 T=0"},        // out of range: nothing
        {{"7", "[101]"}, "X=7 Y=0 Z=0 T=0"},
        {{"7", "[-1]"}, "X=7 Y=0 Z=0 T=0"},
        {{"7", "[1]"}, "X=0 Y=7 Z=0 T=0"},       // registers read as 0 until a reply fills them
        {{"7", "[ 100]"}, "X=0 Y=7 Z=0 T=0"},
        {{"7", "ADD", " +", "Drop", "hello", "", "TEST,hi"}, "X=7 Y=0 Z=0 T=0"},  // no operators
        {{"7", "+ "}, "X=0 Y=7 Z=0 T=0"},        // a sign starts a number: 0 is pushed
    };
    for (const auto &c : cases) {
        std::string input;
        for (const char *t : c.texts) input += std::string("[") + t + "] ";
        SCOPED_TRACE(input);
        ScriptRunner r = Fresh();
        Evaluate(&r, c.texts);
        EXPECT_EQ(c.stack, Stack(r));
    }
}

TEST(Rpn, NumberEntry)
{
    static const struct { const char *text; bool pushes; double x; } cases[] = {
        {"+.5", true, 0.5},  {"5V", true, 5},     {"1e3", true, 1000},  {"-5", true, -5},
        {"+5", true, 5},     {"2.5e-1", true, 0.25}, {"1e", true, 1},   {"-x", true, 0},
        {"0x10", true, 0},   {"+inf", true, 0},   {".5", false, 0},     {" 5", false, 0},
        {"e3", false, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        ScriptRunner r = Fresh();
        RpnPush(&r, 9);
        RpnEvaluate(&r, c.text);
        if (c.pushes) {
            EXPECT_DOUBLE_EQ(c.x, r.stackX);
            EXPECT_EQ(9, r.stackY);
        } else {
            EXPECT_EQ(9, r.stackX);
            EXPECT_EQ(0, r.stackY);
        }
    }
}

TEST(Rpn, LimitTests)
{
    // Stack entered bottom-up as the script would: Z (high), Y (low or limit), X (value).
    static const struct { double z, y, x; const char *word; bool fails; } cases[] = {
        {0, 2, 1.5, "hi", false}, {0, 2, 2.5, "hi", true},  {0, 2, 2, "hi", false},
        {0, 1, 1.5, "lo", false}, {0, 1, 0.5, "lo", true},  {0, 1, 1, "lo", false},
        {2, 1, 1.5, "out", false}, {2, 1, 2.5, "out", true}, {2, 1, 0.5, "out", true},
        {2, 1, 1, "out", false},  {2, 1, 2, "out", false},
        {2, 1, 1.5, "in", true},  {2, 1, 1, "in", false},   {2, 1, 2, "in", false},
        {2, 1, 3, "in", false},
        {2, 1, NAN, "hi", false}, {2, 1, NAN, "lo", false}, {2, 1, NAN, "out", false},
        {2, 1, NAN, "in", false}, {2, NAN, 5, "hi", false},
        {0, 2, 2.5, "HI", false}, {0, 2, 2.5, " hi", false}, {0, 2, 2.5, "hi ", false},
        {0, 2, 2.5, "", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("test,") + c.word + " on " + std::to_string(c.x) + " Y=" +
                     std::to_string(c.y) + " Z=" + std::to_string(c.z));
        ScriptRunner r = Fresh();
        RpnPush(&r, c.z);
        RpnPush(&r, c.y);
        RpnPush(&r, c.x);
        std::string line = std::string("test,") + c.word;
        EXPECT_TRUE(RpnEvaluate(&r, line.c_str()));
        EXPECT_EQ(c.fails ? 1 : 0, r.failCount);
        EXPECT_EQ(c.fails ? 1 : 0, r.testsFailedTotal);
        EXPECT_EQ(c.z, r.stackZ);  // tests leave the stack alone
        EXPECT_TRUE(c.y == r.stackY || (std::isnan(c.y) && std::isnan(r.stackY)));
    }
}

TEST(Rpn, FailCountStopOnFailAndCleartest)
{
    ScriptRunner r = Fresh();
    Evaluate(&r, {"2", "3", "test,hi", "Test,hi", "test,hi"});  // capital T: nothing
    EXPECT_EQ(2, r.failCount);
    EXPECT_FALSE(RpnShouldStop(&r));
    EXPECT_TRUE(RpnEvaluate(&r, "stop,onfail"));
    EXPECT_TRUE(RpnShouldStop(&r));
    EXPECT_FALSE(RpnEvaluate(&r, "cleartest"));  // no stop check after cleartest
    EXPECT_EQ(0, r.failCount);
    EXPECT_EQ(2, r.testsFailedTotal);
    EXPECT_FALSE(RpnShouldStop(&r));
    EXPECT_TRUE(r.stopOnFail);
    RpnReset(&r);
    EXPECT_EQ("X=0 Y=0 Z=0 T=0", Stack(r));
    EXPECT_FALSE(r.stopOnFail);
}

TEST(Rpn, DivisionByZeroAndNegativeRootDoNotFail)
{
    ScriptRunner r = Fresh();
    Evaluate(&r, {"0", "1", "/"});
    EXPECT_TRUE(std::isinf(r.stackX));
    Evaluate(&r, {"-4", "sqrt"});
    EXPECT_TRUE(std::isnan(r.stackX));
    Evaluate(&r, {"test,out", "test,in"});
    EXPECT_EQ(0, r.failCount);
}

// A limit equal to a product must pass on every build: x87 arithmetic rounds twice and would
// make this product one bit smaller than the limit.
TEST(Rpn, ArithmeticIsIeeeDouble)
{
    ScriptRunner r = Fresh();
    Evaluate(&r, {"1.168761179103891", "1.0148908402530299", "1.151612698378969", "*", "test,hi", "test,lo"});
    EXPECT_EQ(0x1.2b33eec115ea9p+0, r.stackX);
    EXPECT_EQ(0, r.failCount);
}

TEST(Rpn, ReplyNumbersAreTheFieldsThatReadWholeAsNumbers)
{
    static const struct {
        const char *line;
        std::vector<double> numbers;
    } cases[] = {
        {"1.23456", {1.23456}},
        {"+1.5E-3,-2,  .5 7", {1.5e-3, -2, 0.5, 7}},       // commas, blanks, signs, exponents
        {"Vendrel,RZT7680,12345,1.23", {12345, 1.23}},     // text fields skipped
        {"12V,0x10,inf,nan,1.2.3,-,", {}},                 // nothing that only starts like one
        {"3.00000E,0.00000E,V=1.50000E2", {3, 0}},         // packed values as the results show them
        {"1.50000E2,-1.00000E-3,5E", {150, -1e-3, 5}},
        {"", {}},
    };
    for (const auto &c : cases) {
        double out[SCRIPT_REGISTERS];
        int n = RpnReplyNumbers(c.line, out, SCRIPT_REGISTERS);
        EXPECT_EQ(c.numbers, std::vector<double>(out, out + n)) << c.line;
    }
}

TEST(Rpn, RegistersHoldTheCurrentWaitsReplyNumbers)
{
    ScriptRunner r = Fresh();
    RpnStoreReply(&r, "1.5,2.5");
    RpnStoreReply(&r, "3.5");  // a later line of the same wait adds after them
    Evaluate(&r, {"[3", "[2", "[1", "[4"});
    EXPECT_EQ("X=0 Y=1.5 Z=2.5 T=3.5", Stack(r));

    RpnClearRegisters(&r);  // a new wait
    RpnStoreReply(&r, "9");
    Evaluate(&r, {"[2", "[1"});
    EXPECT_EQ("X=9 Y=0 Z=0 T=1.5", Stack(r));

    std::string many;
    for (int i = 1; i <= 120; i++) many += std::to_string(i) + ",";
    RpnClearRegisters(&r);
    RpnStoreReply(&r, many.c_str());  // only 100 registers: the rest is dropped
    EXPECT_EQ(SCRIPT_REGISTERS, r.registerCount);
    Evaluate(&r, {"[100"});
    EXPECT_EQ(100, r.stackX);
}
