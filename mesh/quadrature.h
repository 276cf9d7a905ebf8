// Quadrature rules on the reference interval [0, 1].
#ifndef NURBS_MESH_QUADRATURE_H_
#define NURBS_MESH_QUADRATURE_H_

namespace mesh {

// Nodes a rule may have in one direction: Gauss-Legendre with 64 nodes integrates polynomials of
// degree 127 exactly, far beyond what any element of degree <= 18 needs.
constexpr int kMaxQuadrature = 64;

// The n-node Gauss-Legendre rule on [0, 1], 1 <= n <= kMaxQuadrature: node[k] increasing,
// weight[k] > 0, summing to 1. Nodes are symmetric bit for bit (node[n-1-k] = 1 - node[k]), and
// accurate to a few units in the last place: each is a Newton root of the Legendre polynomial.
void GaussLegendre(int n, double* node, double* weight);

}  // namespace mesh

#endif  // NURBS_MESH_QUADRATURE_H_
