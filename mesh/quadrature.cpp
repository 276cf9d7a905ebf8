#include "quadrature.h"

#include <cmath>

namespace mesh {
namespace {

// cos(t) for 0 <= t <= pi by its Taylor series: basic arithmetic only, so that the rule is the
// same bits on every platform, whatever its mathematical library. A starting guess needs no more.
double Cosine(double t) {
  const double t2 = t * t;
  double term = 1.0, sum = 1.0;
  for (int k = 2; k <= 60; k += 2) {
    term = -term * t2 / (k * (k - 1));
    sum += term;
  }
  return sum;
}

}  // namespace

void GaussLegendre(int n, double* node, double* weight) {
  const double pi = 3.14159265358979323846;
  // Roots of P_n on [-1, 1] in pairs +-x, found from x > 0 (the upper half) by Newton's method
  // from Tricomi's estimate; P_n and P_n' by the three-term recurrence.
  for (int k = 0; k < (n + 1) / 2; ++k) {
    double x = Cosine(pi * (k + 0.75) / (n + 0.5));
    double p1 = 0.0, dp = 1.0;
    // Newton converges quadratically: a step below 1e-15 leaves x at the root. The last pass
    // evaluates P_n' at the root itself, for the weight.
    for (int iteration = 0, done = 0; iteration < 100 && done < 2; ++iteration) {
      double p0 = 1.0;
      p1 = x;
      for (int j = 2; j <= n; ++j) {
        const double p2 = ((2 * j - 1) * x * p1 - (j - 1) * p0) / j;
        p0 = p1;
        p1 = p2;
      }
      dp = n * (x * p1 - p0) / ((x - 1.0) * (x + 1.0));
      if (done == 1) break;
      const double step = p1 / dp;
      x -= step;
      if (std::fabs(step) < 1e-15) done = 1;
    }
    // Half of 2 / ((1 - x^2) P_n'(x)^2), the weight on [-1, 1].
    const double w = 1.0 / (((1.0 - x) * (1.0 + x)) * dp * dp);
    // x > 0 belongs to node n - 1 - k, -x to node k; the middle root of odd n is 0.
    const double upper = 0.5 + 0.5 * x;
    node[n - 1 - k] = upper;
    node[k] = 1.0 - upper;
    weight[n - 1 - k] = w;
    weight[k] = w;
    if (2 * k + 1 == n) node[k] = 0.5;
  }
}

}  // namespace mesh
