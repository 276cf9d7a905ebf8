% EXPORTVTK  Write a patch or a domain, with fields on it, as VTK XML files for ParaView.
%
%   files = ExportVTK(filename, geometry, fields)
%   files = ExportVTK(filename, mp, fields, Name, Value, ...)
%
%   Writes each patch as a structured grid (.vts) of points on every element, the geometry's
%   points exact (evaluated by FieldEval, not interpolated) with the fields' values at them as
%   point data. One patch gives filename.vts; a domain of several patches (Multipatch) gives
%   filename_1.vts, ..., filename_n.vts and the multiblock file filename.vtm that names them
%   ("patch 1", ...) and that ParaView opens as one. A .vts or .vtm extension on filename is
%   replaced. Data are binary (appended, raw), little-endian, Float64, sizes UInt64, as the
%   files declare (byte_order, header_type).
%
%   geometry  a NURBS patch as nrbmak makes it, mp a domain (Multipatch), or hs a hierarchical
%             space (HierarchicalSpace): each patch on the breakpoints of all its active
%             elements (every level's that bound one), the fields in hs's numbering.
%   fields    a struct: each field a coefficient vector as FieldEval reads it (a scalar field,
%             or a vector field numbered as ElasticityMatrix numbers its unknowns; over a domain
%             in the domain's numbering), written under its name; [] or struct () for none.
%   Options (name, value pairs; names in any case; given twice, the last wins):
%     'gradient'      true: also each field's physical gradient, as NAME_gradient (default false)
%     'subdivisions'  k, or 1 x d: each element's parametric edge cut into k equal intervals,
%                     the grid of a patch being, per direction, the points of every element,
%                     shared at the breakpoints. Default: twice the higher degree of the
%                     geometry and the space, fewer where a direction has many elements (at
%                     most 64 intervals a direction from this rule), and at least 16 intervals
%                     a direction: curved elements look smooth, and a fine mesh costs little
%                     more than its elements' corners.
%     'space'         for a patch, the fields' space as FieldEval's (default the geometry's
%                     basis); a domain has its own.
%
%   Point data: a scalar field has 1 component; a vector field of 2 components is written with
%   3 (the third 0), as ParaView draws vectors of 3; others with their own number. A gradient
%   has 3 components a field component, (d/dx, d/dy, d/dz) of component 1, then of component 2,
%   ...: a vector for a scalar field, a 3 x 3 tensor, row by row, for a vector field of 2 or 3
%   components (for 2, the third row 0).
%
%   files  a cell of the names written, the .vtm last. Everything is evaluated and checked
%          before the first file is opened; a file that cannot be written raises an error and
%          removes the files this call has written.
%
%   Field and file names are written as they are, escaped where XML needs it (& < > " and line
%   breaks); a name with another control character is refused.
%
%   Errors (identifier ExportVTK:<mnemonic>): usage, fileName (not a row of characters, or one
%   holding a control character), fileOpen, writeFailed, fieldsType (also a field name holding a
%   control character other than a tab or a line break), unknownOption, optionValue, coefsLength
%   (a field of the wrong length, the message naming it), outOfMemory (a grid whose points and
%   data the memory does not hold: fewer subdivisions), and those of FieldEval.
%
%   Example: the coordinate x on the quarter annulus of MeshEval's help.
%     s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%     g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%     g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%     ExportVTK (fullfile (tempdir, 'annulus'), g, struct ('x', x(:)), 'gradient', true);
%
%   See also FieldEval, PlotField, Multipatch.
function files = ExportVTK (filename, geometry, fields, varargin)
  who = 'ExportVTK';
  fail = @(mnemonic, varargin) error ([who ':' mnemonic], varargin{:});
  if (nargin < 3)
    fail ('usage', 'usage: files = ExportVTK (filename, geometry_or_mp, fields, Name, Value, ...)');
  end
  if (~ischar (filename) || ~isrow (filename))
    fail ('fileName', 'filename must be a file name, a row of characters.');
  end
  control = find (double (filename) < 32 | double (filename) == 127, 1);
  if (~isempty (control))
    fail ('fileName', ['filename must be a file name: character %d is a control character ' ...
                       '(code %d), which no file name of the multiblock file may hold.'], ...
          control, double (filename(control)));
  end
  base = regexprep (filename, '\.(vts|vtm)$', '', 'ignorecase');
  [folder, stem] = fileparts (base);
  if (isempty (stem))
    fail ('fileName', 'filename must name a file; found ''%s''.', filename);
  end
  if (isempty (fields)), fields = struct (); end
  if (~isstruct (fields) || ~isscalar (fields))
    fail ('fieldsType', 'fields must be a struct of coefficient vectors, one field each.');
  end
  gradient = false; subdivisions = []; space = {};
  if (mod (numel (varargin), 2) ~= 0)
    fail ('unknownOption', 'options must come in name, value pairs; found %d arguments.', ...
          numel (varargin));
  end
  for k = 1:2:numel (varargin)
    name = varargin{k}; v = varargin{k + 1};
    if (~ischar (name) || ~isrow (name)), name = ''; end
    switch (lower (name))
      case 'gradient'
        if (~(isnumeric (v) || islogical (v)) || ~isscalar (v) || ~(v == 0 || v == 1))
          fail ('optionValue', 'gradient must be true or false.');
        end
        gradient = logical (v);
      case 'subdivisions'
        if (~isnumeric (v) || isempty (v) || ~isreal (v) || any (v(:) < 1 | v(:) > 1e4 | ...
                                                                v(:) ~= fix (v(:))))
          fail ('optionValue', 'subdivisions must be whole numbers from 1 to 10000.');
        end
        subdivisions = double (v(:)');
      case 'space'
        space = {'space', v};
      otherwise
        fail ('unknownOption', 'option %d must be one of gradient, subdivisions, space.', ...
              (k + 1) / 2);
    end
  end

  % A hierarchical space's patches as a domain's, each on the breakpoints of its elements.
  domain = is_domain (geometry) || is_hierarchical (geometry);
  if (domain)
    npatch = geometry.npatch;
    if (~isempty (space))
      fail ('optionValue', 'space is the domain''s own over a domain (Multipatch).');
    end
  else
    npatch = 1;
  end
  names = fieldnames (fields);
  for f = 1:numel (names)
    v = fields.(names{f});
    if (~(isnumeric (v) || islogical (v)) || (~isvector (v) && ~isempty (v)))
      fail ('fieldsType', 'fields.%s must be a vector of coefficients.', names{f});
    end
    % Names are written escaped as XML's attributes, which hold no other control character.
    code = double (names{f});
    if (any (code < 32 & code ~= 9 & code ~= 10 & code ~= 13) || any (code == 127))
      fail ('fieldsType', ['field %d''s name holds a control character, which a VTK file ' ...
                           'cannot name an array with.'], f);
    end
  end

  % Every patch's grid and data, checked and evaluated before any file is opened.
  pieces = cell (1, npatch);
  try
    for i = 1:npatch
      if (domain)
        g = geometry.patches{i}; s = geometry.spaces{i}; at = {'patch', i}; target = geometry;
        if (is_hierarchical (geometry)), s = hierarchical_breaks (geometry, i); end
      else
        g = geometry; s = g; at = space; target = g;
        if (~isempty (space)), s = space{2}; end
      end
      if (~isstruct (g) || ~isfield (g, 'knots') || ~isfield (g, 'order') || ...
          ~isstruct (s) || ~isfield (s, 'knots') || ~isfield (s, 'order'))
        % FieldEval names the fault.
        FieldEval (target, 0, 0, at{:});
      end
      grid = field_grid (g, s, subdivisions, fail);
      if (isempty (names))
        % The geometry alone, through a zero field.
        ndof = prod (cellfun (@numel, knots_of (s)) - double (s.order(:)'));
        if (domain), ndof = geometry.ndof; end
        [~, ~, x] = call (@() FieldEval (target, zeros (ndof, 1), grid, at{:}), '', who);
      end
      N = prod (cellfun (@numel, grid));
      data = {};
      for f = 1:numel (names)
        c = fields.(names{f});
        [u, du, x] = call (@() FieldEval (target, c, grid, at{:}), names{f}, who);
        rdim = size (x, 1);
        ncomp = size (u, 1);
        u = reshape (u, ncomp, N);
        if (ncomp == 2), u(3, :) = 0; end
        data(end + 1, :) = {names{f}, u};
        if (gradient)
          du = reshape (du, ncomp, rdim, N);
          du(:, end + 1:3, :) = 0;
          if (ncomp == 2), du(3, :, :) = 0; end
          data(end + 1, :) = {[names{f} '_gradient'], reshape(permute(du, [2 1 3]), [], N)};
        end
      end
      x = reshape (x, [], N);
      x(end + 1:3, :) = 0;
      pieces{i} = struct ('extent', cellfun (@numel, grid), 'points', x, 'data', {data});
    end
  catch err
    % The memory the evaluation or the data needed, as this call's: fewer subdivisions.
    if (out_of_memory (err))
      error ('ExportVTK:outOfMemory', 'ExportVTK: %s (fewer subdivisions)', ...
             regexprep (err.message, '^\w+: ', ''));
    end
    rethrow (err);
  end

  if (npatch == 1)
    files = {[base '.vts']};
  else
    files = arrayfun (@(i) sprintf ('%s_%d.vts', base, i), 1:npatch, 'UniformOutput', false);
    files{end + 1} = [base '.vtm'];
  end
  % A writer that fails removes its own file; the ones written before it go here.
  written = {};
  try
    for i = 1:npatch
      write_grid (files{i}, pieces{i}, fail);
      written{end + 1} = files{i};
    end
    if (npatch > 1)
      write_blocks (files{end}, files(1:npatch), fail);
    end
  catch err
    for k = 1:numel (written)
      delete (written{k});
    end
    rethrow (err);
  end
end

% FieldEval's outputs, its coefsLength fault named after the field.
function varargout = call (f, name, who)
  varargout = cell (1, max (nargout, 1));
  try
    [varargout{:}] = f ();
  catch err
    if (strcmp (err.identifier, 'FieldEval:coefsLength') && ~isempty (name))
      error ([who ':coefsLength'], 'fields.%s: %s', name, ...
             regexprep (err.message, '^FieldEval: *', ''));
    end
    rethrow (err);
  end
end

function knots = knots_of (s)
  knots = s.knots;
  if (~iscell (knots)), knots = {knots}; end
end


% Text as an XML attribute's value: the markup characters and line breaks as references. Names
% are arguments of the formats, never formats themselves.
function t = xml_text (t)
  t = strrep (t, '&', '&amp;');
  t = strrep (strrep (strrep (t, '<', '&lt;'), '>', '&gt;'), '"', '&quot;');
  t = strrep (strrep (strrep (t, char (10), '&#10;'), char (13), '&#13;'), char (9), '&#9;');
end

function write_grid (file, piece, fail)
  e = piece.extent; e(end + 1:3) = 1;
  extent = sprintf ('0 %d 0 %d 0 %d', e - 1);
  N = prod (e);
  arrays = [piece.data; {'Points', piece.points}];
  header = sprintf (['<?xml version="1.0"?>\n<VTKFile type="StructuredGrid" version="1.0" ' ...
                     'byte_order="LittleEndian" header_type="UInt64">\n' ...
                     '  <StructuredGrid WholeExtent="%s">\n    <Piece Extent="%s">\n' ...
                     '      <PointData>\n'], extent, extent);
  offset = 0;
  for a = 1:size (arrays, 1)
    if (a == size (arrays, 1))
      header = [header sprintf('      </PointData>\n      <Points>\n')];
    end
    header = [header, sprintf(['        <DataArray type="Float64" Name="%s" ' ...
                               'NumberOfComponents="%d" format="appended" offset="%d"/>\n'], ...
                              xml_text (arrays{a, 1}), size(arrays{a, 2}, 1), offset)];
    offset = offset + 8 + 8 * numel (arrays{a, 2});
  end
  header = [header sprintf(['      </Points>\n    </Piece>\n  </StructuredGrid>\n' ...
                            '  <AppendedData encoding="raw">\n   _'])];
  fid = fopen (file, 'w', 'ieee-le');
  if (fid < 0)
    fail ('fileOpen', 'cannot open ''%s'' for writing.', file);
  end
  ok = fwrite (fid, header, 'char') > 0;
  for a = 1:size (arrays, 1)
    ok = ok && fwrite (fid, 8 * numel (arrays{a, 2}), 'uint64') == 1;
    ok = ok && fwrite (fid, arrays{a, 2}, 'double') == numel (arrays{a, 2});
  end
  ok = ok && fwrite (fid, sprintf ('\n  </AppendedData>\n</VTKFile>\n'), 'char') > 0;
  ok = (fclose (fid) == 0) && ok;
  if (~ok)
    delete (file);
    fail ('writeFailed', 'could not write all of ''%s''.', file);
  end
end

function write_blocks (file, pieces, fail)
  text = sprintf (['<?xml version="1.0"?>\n<VTKFile type="vtkMultiBlockDataSet" version="1.0" ' ...
                   'byte_order="LittleEndian" header_type="UInt64">\n  <vtkMultiBlockDataSet>\n']);
  for i = 1:numel (pieces)
    [~, stem, ext] = fileparts (pieces{i});
    text = [text, sprintf('    <DataSet index="%d" name="patch %d" file="%s"/>\n', i - 1, i, ...
                          xml_text ([stem ext]))];
  end
  text = [text sprintf('  </vtkMultiBlockDataSet>\n</VTKFile>\n')];
  fid = fopen (file, 'w');
  if (fid < 0)
    fail ('fileOpen', 'cannot open ''%s'' for writing.', file);
  end
  ok = fwrite (fid, text, 'char') > 0;
  ok = (fclose (fid) == 0) && ok;
  if (~ok)
    delete (file);
    fail ('writeFailed', 'could not write all of ''%s''.', file);
  end
end

%!shared g, x
%! s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%! g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%! g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%!test
%! name = tempname ();
%! files = ExportVTK (name, g, struct ('x', x(:)), 'subdivisions', [4 2]);
%! text = fileread (files{1});
%! delete (files{1});
%! assert (files, {[name '.vts']});
%! assert (! isempty (strfind (text, 'WholeExtent="0 4 0 2 0 0"')));
%! assert (! isempty (strfind (text, 'byte_order="LittleEndian"')));
%!error id=ExportVTK:fileName ExportVTK (1, g, struct ())
%!error id=ExportVTK:coefsLength ExportVTK (tempname (), g, struct ('x', 1:5))
