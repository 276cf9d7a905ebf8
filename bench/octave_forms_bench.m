% OCTAVE_FORMS_BENCH  Time per quadrature point in Octave of a whole form's sparse matrix: the
% native forms against the best vectorised Octave assembly on our batch twins and on MeshEval,
% beside the host's floor, the same native work in process, and the host's own triplet route.
%
%   octave_forms_bench (file)                every case, every N
%   octave_forms_bench (file, 'quick')       the smallest N of each case, one round (a test)
%   octave_forms_bench (file, mode, csv)     with the in-process figures of
%                                            bench_inprocess --benchmark_filter='^Form/'
%                                            --benchmark_format=csv written to csv
%
% Cases as octave_mesh_bench's: the quarter annulus under a cubic C^2 B-spline space of N x N
% elements, 4 x 4 Gauss points, N = 16, 64, 256; the thick ring under a triquadratic space of
% N x N x N elements, 3 x 3 x 3 Gauss points, N = 8, 16, 32. Forms: the Poisson stiffness
% (c = 1), the mass matrix (c = 1) and the elasticity matrix (lambda = mu = 1, as the in-process
% benchmark), all with the space's default quadrature given explicitly.
%
% Columns, nanoseconds per quadrature point of one whole call:
%   native      StiffnessMatrix / MassMatrix / ElasticityMatrix, threads as it comes
%   native 1    the same with NURBS_NUM_THREADS=1
%   twins+m     the quadrature points, the batch twins and the vectorised mapping of
%               octave_mesh_bench (only the fields the form needs: connectivity, weights times
%               |det J|, and the shape functions or their gradients), then the element matrices
%               below and sparse()
%   MeshEval+m  MeshEval ('gradient', false for the mass matrix), then the same element
%               matrices and sparse()
%   trivial     a MEX that creates a sparse matrix of the result's size and number of stored
%               entries (its column starts, rows and values written) and does nothing else:
%               the host's floor
%   triplets    sparse (i, j, v, n, n) on the native result's own triplets ([i, j, v] =
%               find (K), taken before the timing): what the host's triplet route costs for
%               the finished, summed entries alone, the reason the native forms create their
%               result through the host's sparse creation and fill it in place
%   el.trip     sparse (I, J, V, n, n) on the element-by-element triplets the m-code peers
%               make (every element matrix's entries, before summing; taken before the timing;
%               not run where they exceed 2^25 and the peers sum chunks): the share of the
%               peers' time that is the host's summing and sorting
%   in-proc     the same native work alone in process (bench_inprocess Form/...: the mesh read,
%               the pattern, every element's matrix summed into it, the zeros dropped, into
%               arrays made once), the faster of 1 and 2 threads; in-proc 1: one thread
% and the ratios: each m-code peer's time over the native call's; native over in-proc (and the
% serial call over in-proc 1); native over trivial + in-proc; triplets and el.trip over native.
% The element matrices in m-code, vectorised over the elements (a loop over chunks of elements
% whose temporaries stay near 2 MB, and over chunks of at most 2^25 triplets, whose sparse
% matrices are summed):
%   stiffness   K_e(a, b) = sum over points and components of w |det J| d_c R_a d_c R_b, one
%               broadcast product of (rdim nqn) x nsh x 1 x chunk by (rdim nqn) x 1 x nsh x chunk
%               and a sum over the first dimension
%   mass        the same on the values: nqn x nsh x 1 x chunk by nqn x 1 x nsh x chunk
%   elasticity  P_kl(a, b) = sum over points of w |det J| d_k R_a d_l R_b for every pair of
%               components, then lambda P_kl + mu P_lk + mu delta_kl sum_c P_cc, unknowns
%               component by component ((k - 1) ndof + i), as the native form numbers them
% then the triplets (rows and columns from the connectivity) into one sparse () call.
% The in-process benchmark runs at most 2 threads: on a machine with more, compare with
% NURBS_NUM_THREADS=2.
%
% Each figure is the best of several rounds (5; 3 at the largest N; a method slower than 5 s a
% call, its first call and one round), the methods taken in turn, each round about 50 ms of calls
% and at least one. The Octave figures and their ratios come from this one run; the in-process
% ones from the bench_inprocess run just before it (tools/bench.sh runs both). Once per case, at the smallest N, the
% peers' matrices are checked against the native one (largest difference relative to its
% largest entry at most 1e-12): an error otherwise.
% Prints the tables and writes the figures to FILE (a block per case and form: N, points, then
% the columns above in ns per point).
function octave_forms_bench (file, mode, csv)
  if (nargin < 2 || isempty (mode)), mode = 'full'; end
  if (nargin < 3), csv = ''; end
  quick = strcmp (mode, 'quick');
  if (~quick && ~strcmp (mode, 'full'))
    error ('octave_forms_bench: mode must be ''full'' or ''quick'', found ''%s''', mode);
  end
  if (isempty (which ('TrivialMex')))
    error ('octave_forms_bench: TrivialMex is not on the path (build/bench)');
  end
  pkg load nurbs
  f = mesh_bench_common ();
  T = f.inprocess (csv);
  cases = {'annulus', [16 64 256]; 'ring', [8 16 32]};
  forms = {'stiffness', 'mass', 'elasticity'};
  names = {'native', 'native 1', 'twins+m', 'MeshEval+m', 'trivial', 'triplets', 'el.trip', ...
           'in-proc', 'in-proc 1'};
  ratio_names = {'twins+m/nat', 'ME+m/nat', 'nat/in', 'nat1/in1', 'nat/(tr+in)', 'trip/nat', ...
                 'el.trip/nat'};
  setenv ('NURBS_NUM_THREADS', '');
  fid = fopen (file, 'w');
  started = tic;
  for ic = 1:rows (cases)
    shape = cases{ic, 1};
    Ns = cases{ic, 2};
    if (quick), Ns = Ns(1); end
    figures = cell (numel (Ns), numel (forms));
    ratios = cell (numel (Ns), numel (forms));
    for iN = 1:numel (Ns)
      N = Ns(iN);
      c = f.make_case (shape, N);
      if (iN == 1)
        printf ('\n%s: ns per quadrature point of the whole call\n', c.label);
        printf ('%5s %-10s %9s %8s', 'N', 'form', 'points', 'nnz'); printf (' %10s', names{:});
        printf ('\n');
      end
      core = f.core_inputs (c, false);
      for iF = 1:numel (forms)
        form = forms{iF};
        native = native_call (form, c);
        K = native ();
        [i, j, v] = find (K);
        n = rows (K);
        stored = numel (v);
        if (iN == 1), check (f, c, form, K); end
        el = mesheval_form (c, form, true);     % the element triplets, or {} if chunked
        m = struct ('name', names(1:7), 'serial', {false, true, false, false, false, false, false});
        m(1).run = native;
        m(2).run = native;
        m(3).run = @() twins_form (f, c, form);
        m(4).run = @() mesheval_form (c, form);
        m(5).run = @() TrivialMex ('sparse', [n n nnz(K)], core{:});
        m(6).run = @() sparse (i, j, v, n, n);
        if (~isempty (el))
          m(7).run = @() sparse (el{:}, n, n);
        else
          m(7) = [];
        end
        clear K
        opts.rounds = 1 + (~quick) * (4 - 2 * (N == cases{ic, 2}(end)));
        opts.slow = 5;
        t = f.measure (m, opts);
        if (isempty (el)), t(7) = NaN; end
        clear i j v m el
        base = sprintf ('Form/%s/%s/p:%d/N:%d/threads:%%d/real_time', form, shape, c.p, N);
        in = @(threads) f.inprocess_time (T, sprintf (base, threads));
        t(8) = min (in (1), in (2));
        t(9) = in (1);
        ns = 1e9 * t / c.points;
        printf ('%5d %-10s %9d %8d', N, form, c.points, stored); f.print_row (' %10.0f', ns);
        printf ('\n');
        figures{iN, iF} = [N, c.points, ns];
        ratios{iN, iF} = [t(3) / t(1), t(4) / t(1), t(1) / t(8), t(2) / t(9), ...
                          t(1) / (t(5) + t(8)), t(6) / t(1), t(7) / t(1)];
      end
    end
    printf ('ratios of the times above\n');
    printf ('%5s %-10s', 'N', 'form'); printf (' %12s', ratio_names{:}); printf ('\n');
    for iN = 1:numel (Ns)
      for iF = 1:numel (forms)
        printf ('%5d %-10s', Ns(iN), forms{iF}); f.print_row (' %12.2f', ratios{iN, iF});
        printf ('\n');
      end
    end
    for iF = 1:numel (forms)
      fprintf (fid, '# %s %s: N | points | %s\n', shape, forms{iF}, strjoin (names, ' | '));
      for iN = 1:numel (Ns)
        fprintf (fid, '%g ', figures{iN, iF}); fprintf (fid, '\n');
      end
      fprintf (fid, '\n\n');
    end
  end
  fclose (fid);
  setenv ('NURBS_NUM_THREADS', '');
  printf ('\n(%s mode, %.0f s)\n', mode, toc (started));
end

% The native form's call, as a user makes it.
function run = native_call (form, c)
  g = c.geometry; S = c.space; q = c.nq;
  switch (form)
    case 'stiffness'
      run = @() StiffnessMatrix (g, 1, 'space', S, 'quadrature', q);
    case 'mass'
      run = @() MassMatrix (g, 1, 'space', S, 'quadrature', q);
    case 'elasticity'
      run = @() ElasticityMatrix (g, 1, 1, 'space', S, 'quadrature', q);
  end
end

% The peer "twins + m".
function K = twins_form (f, c, form)
  mass = strcmp (form, 'mass');
  m = f.twins_fields (c, struct ('all', false, 'R', mass, 'grad', ~mass));
  K = assemble (c, form, m, false);
end

% The peer "MeshEval + m"; with triplets, its element triplets {I, J, V} instead ({} where
% they take more than one sparse () call).
function K = mesheval_form (c, form, triplets)
  triplets = nargin > 2 && triplets;
  [~, large] = chunks (c, form);
  if (triplets && large < c.nel), K = {}; return; end
  mass = strcmp (form, 'mass');
  msh = MeshEval (c.geometry, 'space', c.space, 'quadrature', c.nq, 'gradient', ~mass);
  m.connectivity = msh.connectivity;
  m.wdet = msh.quad_weights .* msh.jacdet;
  if (mass)
    m.shape_functions = msh.shape_functions;
  else
    m.shape_function_gradients = msh.shape_function_gradients;
  end
  K = assemble (c, form, m, triplets);
end

% The form's sparse matrix from the fields m in MeshEval's layouts: element matrices vectorised
% over chunks of elements, triplets, sparse (). With triplets, {I, J, V} instead of the matrix
% ({} where they take more than one chunk).
function K = assemble (c, form, m, triplets)
  nqn = c.nqn; nsh = c.nsh; nel = c.nel; rdim = c.rdim; n = c.ndof;
  r = 1;
  lambda = 1; mu = 1;             % the elasticity's Lame coefficients, as the native call's
  switch (form)
    case 'stiffness'
      % Rows (component, node) of every function's gradient, and the same times the weights.
      M = rdim * nqn;
      B = reshape (m.shape_function_gradients, M, nsh, nel);
      w = reshape (repmat (reshape (m.wdet, 1, nqn, nel), rdim, 1, 1), M, 1, nel);
      Bw = {B .* w};
      B = {B};
    case 'mass'
      M = nqn;
      B = {m.shape_functions};
      Bw = {m.shape_functions .* reshape(m.wdet, nqn, 1, nel)};
    case 'elasticity'
      % One component of the gradients at a time: nqn x nsh x nel each.
      M = nqn; r = rdim;
      B = cell (1, r); Bw = cell (1, r);
      w = reshape (m.wdet, nqn, 1, nel);
      for k = 1:r
        B{k} = reshape (m.shape_function_gradients(k, :, :, :), nqn, nsh, nel);
        Bw{k} = B{k} .* w;
      end
  end
  conn = m.connectivity;
  [small, large] = chunks (c, form);
  K = [];
  if (triplets && large < nel), K = {}; return; end
  for s = 1:large:nel
    E = s:min (s + large - 1, nel);
    ne = numel (E);
    V = zeros (nsh, nsh, ne, r, r);
    for t = 1:small:ne
      e = t:min (t + small - 1, ne);
      % P{k, l}(a, b, e) = sum over rows of Bw{k}(:, a, e) .* B{l}(:, b, e); P{l, k} is P{k, l}
      % with a and b swapped.
      P = cell (r, r);
      for k = 1:r
        for l = k:r
          P{k, l} = reshape (sum (reshape (Bw{k}(:, :, E(e)), M, nsh, 1, []) .* ...
                                  reshape (B{l}(:, :, E(e)), M, 1, nsh, []), 1), nsh, nsh, []);
        end
        for l = 1:k - 1
          P{k, l} = permute (P{l, k}, [2 1 3]);
        end
      end
      if (r == 1)
        V(:, :, e) = P{1};
      else
        tr = P{1, 1};
        for k = 2:r, tr += P{k, k}; end
        for k = 1:r
          for l = 1:r
            block = lambda * P{k, l} + mu * P{l, k};
            if (k == l), block += mu * tr; end
            V(:, :, e, k, l) = block;
          end
        end
      end
    end
    % Row (k - 1) n + conn(a, e), column (l - 1) n + conn(b, e) of value V(a, b, e, k, l).
    I = repmat (reshape (conn(:, E), nsh, 1, ne) + n * reshape (0:r - 1, 1, 1, 1, r), ...
                [1, nsh, 1, 1, r]);
    J = repmat (reshape (conn(:, E), 1, nsh, ne) + n * reshape (0:r - 1, 1, 1, 1, 1, r), ...
                [nsh, 1, 1, r, 1]);
    if (triplets), K = {I(:), J(:), V(:)}; return; end
    Ks = sparse (I(:), J(:), V(:), r * n, r * n);
    if (isempty (K)), K = Ks; else, K += Ks; end
  end
end

% Elements a chunk: for the element matrices' temporaries (rows x nsh x nsh x small: about
% 2^18 values), and for a sparse () call (at most 2^25 triplets, a multiple of small).
function [small, large] = chunks (c, form)
  r = 1; M = c.nqn;
  if (strcmp (form, 'stiffness')), M = c.rdim * c.nqn; end
  if (strcmp (form, 'elasticity')), r = c.rdim; end
  small = max (1, floor (2 ^ 18 / (M * c.nsh ^ 2)));
  large = max (small, floor (2 ^ 25 / (r * c.nsh) ^ 2 / small) * small);
end

% The peers' matrices against the native one.
function check (f, c, form, K)
  peers = {'twins+m', twins_form(f, c, form); 'MeshEval+m', mesheval_form(c, form)};
  printf ('      check (%s at N = %d), largest relative difference from the native matrix:', ...
          form, c.N);
  for k = 1:rows (peers)
    [name, A] = peers{k, :};
    if (~isequal (size (A), size (K)))
      error ('octave_forms_bench: %s %s is %s, the native one %s', name, form, ...
             mat2str (size (A)), mat2str (size (K)));
    end
    e = f.difference (A, K);
    if (e > 1e-12)
      error ('octave_forms_bench: %s %s differs from the native matrix by %g', name, form, e);
    end
    printf (' %s %.1e', name, e);
  end
  printf ('\n');
end
