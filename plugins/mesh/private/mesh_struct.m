% MESH_STRUCT  MeshEval's struct from its core's outputs (one column per element) and the
% call's info (mesh_arguments): every field in its shape, first index fastest.
function msh = mesh_struct (out, info)
  [quad_nodes, quad_weights, geo_map, geo_map_jac, jacdet, element_size, normal, ...
   connectivity, shape_functions, gradients, hessians, laplacians, dofs, nel_dir, counts] = ...
      out{:};
  d = info.d;
  ndim = counts(1); rdim = counts(2); nqn = counts(3); nsh = counts(4); ndof = counts(5);
  nel = size (quad_weights, 2);
  msh = struct ();
  msh.ndim = ndim;
  msh.rdim = rdim;
  msh.nel = nel;
  msh.nqn = nqn;
  msh.nel_dir = nel_dir;
  if (info.chosen)
    msh.elements = reshape (double (info.elements), 1, []);
  else
    msh.elements = 1:nel;
  end
  msh.quad_nodes = reshape (quad_nodes, d, nqn, nel);
  msh.quad_weights = quad_weights;
  msh.geo_map = reshape (geo_map, rdim, nqn, nel);
  msh.geo_map_jac = reshape (geo_map_jac, rdim, d, nqn, nel);
  msh.jacdet = jacdet;
  msh.element_size = element_size;
  if (~isempty (normal))
    msh.normal = reshape (normal, rdim, nqn, nel);
  end
  msh.ndof = ndof;
  msh.ncomp = 1;
  msh.nsh = nsh + zeros (1, nel);
  msh.nsh_max = nsh;
  msh.connectivity = connectivity;
  msh.shape_functions = reshape (shape_functions, nqn, nsh, nel);
  if (info.flags(1))
    msh.shape_function_gradients = reshape (gradients, rdim, nqn, nsh, nel);
  end
  if (info.flags(2))
    msh.shape_function_hessians = reshape (hessians, rdim, rdim, nqn, nsh, nel);
  end
  if (info.flags(3))
    msh.shape_function_laplacians = reshape (laplacians, nqn, nsh, nel);
  end
  if (info.side ~= 0)
    msh.dofs = dofs;
  end
end
