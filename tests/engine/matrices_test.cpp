#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>

#include "engine/matrices.h"
#include "engine/matricesvec.h"
#include "platform/sysutils.h"

namespace planora {
namespace {

constexpr double kEps = 2.220446049250313E-16;

TMatrix Mat(std::initializer_list<TVector> rows) { return TMatrix(rows); }

// A·Work = I and A·X = B over Lo..Hi, within tol.
void ExpectSolvedAndInverted(const TMatrix& a, const TVector& b, std::int32_t lo, std::int32_t hi,
                             const TMatrix& work, const TVector& x, double tol) {
  for (std::int32_t i = lo; i <= hi; ++i) {
    double ax = 0.0;
    for (std::int32_t k = lo; k <= hi; ++k) ax += a[i][k] * x[k];
    EXPECT_NEAR(ax, b[i], tol) << "row " << i;
    for (std::int32_t j = lo; j <= hi; ++j) {
      double p = 0.0;
      for (std::int32_t k = lo; k <= hi; ++k) p += a[i][k] * work[k][j];
      EXPECT_NEAR(p, i == j ? 1.0 : 0.0, tol) << "(A*Work)[" << i << "][" << j << "]";
    }
  }
}

std::int32_t Solve(const TMatrix& a, const TVector& b, TMatrix& work, TVector& x) {
  const auto hi = static_cast<std::int32_t>(a.size()) - 1;
  SizeMatrix(work, hi, hi);
  SizeVector(x, hi);
  return GaussJordan(a, b, 0, hi, work, x);
}

TEST(MatricesTest, SizingDiscardsOldValuesAndNegativeHiEmpties) {
  TVector v{7.0, 8.0};
  SizeVector(v, 2);
  EXPECT_EQ(v, (TVector{0.0, 0.0, 0.0}));
  SizeVector(v, -1);
  EXPECT_TRUE(v.empty());

  TIntVector iv{5};
  SizeIntVector(iv, 1);
  EXPECT_EQ(iv, (TIntVector{0, 0}));

  TMatrix m{{1.0}};
  SizeMatrix(m, 1, 2);
  EXPECT_EQ(m, (TMatrix{{0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}}));
  SizeMatrix(m, 2, -1);
  EXPECT_TRUE(m.empty());
}

// The elimination covers the exchanges and copies; SetColumn is only used by
// the camera solver, so its range is checked here.
TEST(MatricesTest, SetColumnTouchesOnlyItsRange) {
  TMatrix m = Mat({{1, 2}, {3, 4}, {5, 6}});
  SetColumn(m, TVector{7, 8, 9}, 1, 2, 0);
  EXPECT_EQ(m, Mat({{1, 2}, {8, 4}, {9, 6}}));
}

TEST(GaussJordanTest, IdentityAndPermutation) {
  TMatrix work;
  TVector x;
  const TMatrix identity = Mat({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
  ASSERT_EQ(Solve(identity, {1, 2, 3}, work, x), 0);
  EXPECT_EQ(x, (TVector{1, 2, 3}));
  EXPECT_EQ(work, identity);

  // The first pivot search ties at 1 between [0][1] and [1][0]; the first in
  // row-major order wins, forcing a column exchange that has to be undone.
  const TMatrix p = Mat({{0, 1, 0}, {1, 0, 0}, {0, 0, 1}});
  const TVector b{4, 5, 6};
  ASSERT_EQ(Solve(p, b, work, x), 0);
  EXPECT_EQ(x, (TVector{5, 4, 6}));
  EXPECT_EQ(work, p);  // a transposition is its own inverse
  ExpectSolvedAndInverted(p, b, 0, 2, work, x, 0.0);
}

TEST(GaussJordanTest, GeneralMatrices) {
  // Unit determinant, solution (1, -2, 3); needs off-diagonal pivots.
  const TMatrix a = Mat({{1, 2, 3}, {0, 1, 4}, {5, 6, 0}});
  const TVector b{6, 10, -7};
  TMatrix work;
  TVector x;
  ASSERT_EQ(Solve(a, b, work, x), 0);
  EXPECT_NEAR(x[0], 1.0, 1e-12);
  EXPECT_NEAR(x[1], -2.0, 1e-12);
  EXPECT_NEAR(x[2], 3.0, 1e-12);
  ExpectSolvedAndInverted(a, b, 0, 2, work, x, 1e-12);

  // A 4x4 block at 1..4 of 6x6 storage. Its pivots come from rows and
  // columns that need exchanges in several steps, with overlapping
  // exchanges, so undoing them over too short a range or in the wrong order
  // breaks A·Work = I.
  const TMatrix big = Mat({{9, 9, 9, 9, 9, 9},
                           {9, 7, 5, -1, -2, 9},
                           {9, 0, -7, -1, -2, 9},
                           {9, 5, -4, 0, -3, 9},
                           {9, -6, -6, 7, 0, 9},
                           {9, 9, 9, 9, 9, 9}});
  const TVector bigB{9, 4, -6, -9, -9, 9};
  TMatrix bigWork(6, TVector(6, -7.0));
  TVector bigX(6, -7.0);
  ASSERT_EQ(GaussJordan(big, bigB, 1, 4, bigWork, bigX), 0);
  ExpectSolvedAndInverted(big, bigB, 1, 4, bigWork, bigX, 1e-12);
  for (int i = 0; i < 6; ++i) {
    for (int j = 0; j < 6; ++j) {
      if (i < 1 || i > 4 || j < 1 || j > 4) {
        EXPECT_EQ(bigWork[i][j], -7.0) << i << "," << j;
      }
    }
  }
  EXPECT_EQ(bigX[0], -7.0);
  EXPECT_EQ(bigX[5], -7.0);
}

TEST(GaussJordanTest, SingularAndThreshold) {
  TMatrix work;
  TVector x;
  const TMatrix equalColumns = Mat({{1, 2, 1}, {3, 4, 3}, {5, 6, 5}});
  const TVector b{1, 2, 3};
  EXPECT_EQ(Solve(equalColumns, b, work, x), -1);
  EXPECT_EQ(equalColumns, Mat({{1, 2, 1}, {3, 4, 3}, {5, 6, 5}}));  // input only read
  EXPECT_EQ(b, (TVector{1, 2, 3}));
  EXPECT_EQ(Solve(Mat({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}), b, work, x), -1);

  // Every element ties at magnitude 1, so the diagonal keeps the first pivot
  // and B is not exchanged; the state at the failing second step shows it.
  EXPECT_EQ(Solve(Mat({{1, -1}, {-1, 1}}), {1, 2}, work, x), -1);
  EXPECT_EQ(x, (TVector{1, 3}));
  EXPECT_EQ(work, Mat({{1, -1}, {1, 0}}));

  // After the two pivots of 1 the last remaining element is exactly the
  // threshold, which still counts as a pivot (the test is strictly "below").
  ASSERT_EQ(Solve(Mat({{1, 0, 0}, {0, kEps, 0}, {0, 0, 1}}), b, work, x), 0);
  EXPECT_EQ(x, (TVector{1, 2 / kEps, 3}));
  EXPECT_EQ(work[1][1], 1 / kEps);
  ASSERT_EQ(Solve(Mat({{1, 0, 0}, {0, -kEps, 0}, {0, 0, 1}}), b, work, x), 0);

  const double below = std::nextafter(kEps, 0.0);
  EXPECT_EQ(Solve(Mat({{1, 0, 0}, {0, below, 0}, {0, 0, 1}}), b, work, x), -1);
}

TEST(VectorOpsTest, NormalizeCrossAndDot) {
  TVector v{0, 0, 0};
  Normalize(v, 0, 2);
  EXPECT_EQ(v, (TVector{0, 0, 0}));
  v = {3, 0, 4};
  Normalize(v, 0, 2);
  EXPECT_EQ(v, (TVector{0.6, 0, 0.8}));
  v = {9, 3, 4, 9};
  Normalize(v, 1, 2);
  EXPECT_EQ(v, (TVector{9, 0.6, 0.8, 9}));

  TVector r{7, 7, 7};
  CrossProduct({1, 0, 0}, 0, {0, 1, 0}, 0, r);
  EXPECT_EQ(r, (TVector{0, 0, 1}));
  CrossProduct({5, 5, 0, 1, 0}, 2, {0, 0, 1, 5}, 0, r);  // (0,1,0) x (0,0,1)
  EXPECT_EQ(r, (TVector{1, 0, 0}));
  CrossProduct({1, 2, 3}, 0, {9, 4, 5, 6}, 1, r);
  EXPECT_EQ(r, (TVector{-3, 6, -3}));

  double d = 99;
  DotProduct({1, 2, 3, 4}, 1, 2, {0, 0, 10, 100}, 2, d);  // 2*10 + 3*100
  EXPECT_EQ(d, 320.0);
  DotProduct({1, 2, 3}, 2, 1, {1, 2, 3}, 0, d);
  EXPECT_EQ(d, 0.0);
}

TEST(VectorOpsTest, IndexesOutsideTheArrayRaiseRangeError) {
  const TVector three{1, 2, 3};
  const TVector empty;
  double d = 0;
  EXPECT_THROW(DotProduct(three, 0, 3, three, 0, d), ERangeError);
  EXPECT_THROW(DotProduct(three, -1, 1, three, 0, d), ERangeError);
  EXPECT_THROW(DotProduct(three, 0, 2, three, 1, d), ERangeError);
  EXPECT_THROW(DotProduct(three, 0, 0, three, INT32_MAX, d), ERangeError);
  EXPECT_THROW(DotProduct(empty, 0, 0, three, 0, d), ERangeError);

  TVector r(3);
  TVector shortR(2);
  EXPECT_THROW(CrossProduct(three, 1, three, 0, r), ERangeError);
  EXPECT_THROW(CrossProduct(three, 0, three, -1, r), ERangeError);
  EXPECT_THROW(CrossProduct(three, INT32_MAX, three, 0, r), ERangeError);
  EXPECT_THROW(CrossProduct(three, 0, three, 0, shortR), ERangeError);
  EXPECT_THROW(CrossProduct(empty, 0, three, 0, r), ERangeError);

  TVector v{3, 4};
  EXPECT_THROW(Normalize(v, 0, 2), ERangeError);
  EXPECT_EQ(v, (TVector{3, 4}));  // the failure comes while measuring, before scaling
  TVector none;
  EXPECT_THROW(Normalize(none, 0, 0), ERangeError);
}

}  // namespace
}  // namespace planora
