// The setup dialog in the browser. It draws the widget tree that the tool's toolkit holds
// (GET /api/form) and nothing else: pages become tabs, frames become framed grids, every
// widget sits at its grid place. Each operator action is sent to the tool as a toolkit event,
// then the tree is fetched again, so that whatever the plug-in did in answer (greying frames
// out, opening a directory chooser, filling an editor) shows at once.
'use strict';

(() => {
  // Every call carries the session cookie that the browser got when it entered with the
  // one-time code (the page never sees it: HttpOnly) and the page secret that the answer to the
  // code left in this tab's sessionStorage. A browser sends the cookie to any server of this
  // machine's address, whatever its port; only this dialog's own page can read the secret.
  const byId = (id) => document.getElementById(id);
  const pageSecret = (() => {
    try {
      return sessionStorage.getItem('wassetup-page-secret');
    } catch (error) {
      return null; // storage refused: the page says so below
    }
  })();

  const JUSTIFY_FILL = 0x1e;
  const JUSTIFY_LABEL = 0x7a;
  const STATUS_NAMES = {
    pending: 'waiting',
    running: 'running',
    done: 'done',
    skipped: 'skipped',
    failed: 'failed',
    'not-run': 'not run',
  };

  let tree = null; // the last form document
  let structure = ''; // what the widgets on screen were built from
  let activePage = null; // the id of the page shown
  const nodes = new Map(); // widget id -> {widget, cell, control, titleNode, tab}
  let queue = Promise.resolve();
  let lastPressed = null; // the push button pressed last, to title the chooser it opens
  let chooser = null; // {id, path, parent} while the chooser dialog is open
  let polling = false;

  class ApiError extends Error {
    constructor(status, message) {
      super(message);
      this.status = status;
    }
  }

  async function call(method, path, body) {
    const options = {
      method,
      headers: { 'X-Wassetup-Page-Secret': pageSecret },
      cache: 'no-store',
      credentials: 'same-origin',
    };
    if (body !== undefined) {
      options.headers['Content-Type'] = 'application/json';
      options.body = JSON.stringify(body);
    }
    let response;
    try {
      response = await fetch(path, options);
    } catch (error) {
      throw new ApiError(0, 'The tool does not answer: is wassetup ui still running?');
    }
    const text = await response.text();
    let data = null;
    try {
      data = text ? JSON.parse(text) : null;
    } catch (error) {
      data = null;
    }
    if (!response.ok) {
      const why = (data && data.error) || text.trim() || `HTTP ${response.status}`;
      throw new ApiError(response.status, why);
    }
    return data;
  }

  // The operator's actions run one after the other, in the order they were made: an editor's
  // change (sent when it loses the focus) reaches the tool before the click that moved it.
  // While actions are pending the body is marked data-busy="true" (also for tests to wait on).
  let pending = 0;
  function act(work) {
    pending += 1;
    document.body.dataset.busy = 'true';
    queue = queue.then(work).catch(failed).finally(() => {
      pending -= 1;
      document.body.dataset.busy = String(pending > 0);
    });
    return queue;
  }

  async function failed(error) {
    notify(error.message, 'error');
    if (error.status !== 0) {
      try {
        render(await call('GET', '/api/form'));
      } catch (ignored) {
        // The message above says what went wrong.
      }
    }
  }

  let notifyTimer = null;
  function notify(text, kind = 'info') {
    const status = byId('status');
    status.textContent = text;
    status.className = `status ${kind}`;
    clearTimeout(notifyTimer);
    notifyTimer = setTimeout(() => {
      status.textContent = '';
      status.className = 'status';
    }, kind === 'error' ? 12000 : 6000);
  }

  function make(tag, properties = {}, ...children) {
    const node = document.createElement(tag);
    Object.assign(node, properties);
    node.append(...children);
    return node;
  }

  async function refresh() {
    render(await call('GET', '/api/form'));
  }

  // ---- Drawing the tree ----

  function render(document_) {
    tree = document_;
    document.title = tree.plugin ? `${tree.plugin} – wassetup` : 'wassetup';
    byId('title').textContent = tree.plugin || 'Setup';
    const widgets = tree.widgets.filter((widget) => widget.type !== 'ZAFDlgFile');
    const key = JSON.stringify(
      widgets.map((w) => [w.id, w.type, w.parentId, w.grid, w.resizableRows, w.resizableColumns,
        w.masked]));
    if (key !== structure) {
      build(widgets);
      structure = key;
    }
    update(widgets);
    byId('activity').hidden = !tree.deploying;
    syncChooser(tree.chooser);
  }

  function childrenByParent(widgets) {
    const children = new Map();
    for (const widget of widgets) {
      const parent = widget.parentId === null ? 'root' : widget.parentId;
      if (!children.has(parent)) {
        children.set(parent, []);
      }
      children.get(parent).push(widget);
    }
    return children;
  }

  function build(widgets) {
    nodes.clear();
    const children = childrenByParent(widgets);
    const pages = children.get('root') || [];
    const tabs = byId('tabs');
    const panels = byId('pages');
    tabs.replaceChildren();
    panels.replaceChildren();
    if (!pages.some((page) => page.id === activePage)) {
      activePage = pages.length > 0 ? pages[0].id : null;
    }
    for (const page of pages) {
      const tab = make('button', { type: 'button', className: 'tab', id: `tab-${page.id}` });
      tab.setAttribute('role', 'tab');
      tab.setAttribute('aria-controls', `page-${page.id}`);
      tab.dataset.name = page.name;
      tab.addEventListener('click', () => showPage(page.id));
      tab.addEventListener('keydown', (event) => moveTab(event, pages));
      const panel = make('section', { className: 'page', id: `page-${page.id}` });
      panel.setAttribute('role', 'tabpanel');
      panel.setAttribute('aria-labelledby', tab.id);
      panel.dataset.name = page.name;
      layOut(panel, page, children);
      nodes.set(page.id, { widget: page, cell: panel, tab });
      tabs.append(tab);
      panels.append(panel);
    }
    showPage(activePage);
  }

  function showPage(id) {
    activePage = id;
    for (const { widget, cell, tab } of nodes.values()) {
      if (tab) {
        const shown = widget.id === id;
        cell.hidden = !shown;
        tab.setAttribute('aria-selected', String(shown));
        tab.tabIndex = shown ? 0 : -1;
      }
    }
  }

  function moveTab(event, pages) {
    const step = { ArrowRight: 1, ArrowLeft: -1 }[event.key];
    if (!step || pages.length === 0) {
      return;
    }
    const at = pages.findIndex((page) => page.id === activePage);
    const next = pages[(at + step + pages.length) % pages.length];
    showPage(next.id);
    byId(`tab-${next.id}`).focus();
  }

  // A grid of a page or a frame: as many rows and columns as its children reach; the rows and
  // columns the toolkit made resizable take the extra space, the others fit their content.
  function layOut(container, widget, children) {
    const own = children.get(widget.id) || [];
    const placed = own.filter((child) => child.grid);
    const reach = (axis, span) =>
      Math.max(1, ...placed.map((child) => child.grid[axis] + Math.max(1, child.grid[span])));
    const tracks = (count, resizable) =>
      Array.from({ length: count }, (_, index) =>
        (resizable.includes(index) ? 'minmax(0, 1fr)' : 'auto')).join(' ');
    container.classList.add('grid');
    container.style.gridTemplateColumns =
      tracks(reach('column', 'columnSpan'), widget.resizableColumns);
    container.style.gridTemplateRows = tracks(reach('row', 'rowSpan'), widget.resizableRows);
    for (const child of own) {
      const cell = buildWidget(child, children, own);
      if (child.grid) {
        const { row, column, rowSpan, columnSpan, justification } = child.grid;
        cell.style.gridColumn = `${column + 1} / span ${Math.max(1, columnSpan)}`;
        cell.style.gridRow = `${row + 1} / span ${Math.max(1, rowSpan)}`;
        cell.classList.add(justification === JUSTIFY_LABEL ? 'at-start' : 'fill');
      }
      container.append(cell);
    }
  }

  // The editor in the same row, right after the label.
  function editorBeside(label, siblings) {
    if (!label.grid) {
      return null;
    }
    const column = label.grid.column + Math.max(1, label.grid.columnSpan);
    return siblings.find((other) => other.type === 'ZAFDlgEditor' && other.grid &&
      other.grid.row === label.grid.row && other.grid.column === column) || null;
  }

  // The label at the start of a widget's row, which names what the row is about.
  function labelOfRow(widget, siblings) {
    if (!widget.grid) {
      return null;
    }
    return siblings.find((other) => other.type === 'ZAFDlgLabel' && other.grid &&
      other.grid.row === widget.grid.row && other.grid.column < widget.grid.column) || null;
  }

  function buildWidget(widget, children, siblings) {
    const entry = { widget, cell: null, control: null, titleNode: null };
    switch (widget.type) {
      case 'ZAFDlgFrame': {
        const legend = make('legend');
        const body = make('div', { className: 'frame-body' });
        layOut(body, widget, children);
        entry.cell = make('fieldset', { className: 'frame' }, legend, body);
        entry.titleNode = legend;
        break;
      }
      case 'ZAFDlgLabel': {
        entry.cell = make('label', { className: 'label' });
        const editor = editorBeside(widget, siblings);
        if (editor) {
          entry.cell.htmlFor = `w-${editor.id}`;
        }
        entry.titleNode = entry.cell;
        break;
      }
      case 'ZAFDlgEditor': {
        const input = make('input', {
          type: widget.masked ? 'password' : 'text',
          id: `w-${widget.id}`,
          className: 'editor',
          spellcheck: false,
          autocomplete: widget.masked ? 'new-password' : 'off',
        });
        input.addEventListener('change', () => typed(widget.id, input));
        entry.cell = input;
        entry.control = input;
        break;
      }
      case 'ZAFDlgPushButton': {
        const button = make('button', { type: 'button', className: 'push' });
        const label = labelOfRow(widget, siblings);
        if (label && label.title) {
          button.title = `${widget.title || widget.name}: ${label.title}`;
        }
        button.addEventListener('click', () => pressed(widget.id));
        entry.cell = button;
        entry.control = button;
        entry.titleNode = button;
        break;
      }
      case 'ZAFDlgCheckButton': {
        const box = make('input', { type: 'checkbox', id: `w-${widget.id}` });
        const text = make('span');
        box.addEventListener('change', () => toggled(widget.id));
        entry.cell = make('label', { className: 'check' }, box, text);
        entry.control = box;
        entry.titleNode = text;
        break;
      }
      default: {
        // A kind of widget this page does not know is still shown, by its kind and name.
        entry.cell = make('div', { className: 'unknown', textContent: `${widget.type} ${widget.name}` });
        break;
      }
    }
    // The resource name marks the node the operator works with: the control, else the cell.
    (entry.control || entry.cell).dataset.name = widget.name;
    entry.cell.dataset.type = widget.type;
    nodes.set(widget.id, entry);
    return entry.cell;
  }

  function update(widgets) {
    for (const widget of widgets) {
      const entry = nodes.get(widget.id);
      if (!entry) {
        continue;
      }
      entry.widget = widget;
      const title = widget.title === null ? '' : widget.title;
      if (entry.tab) {
        entry.tab.textContent = title || widget.name;
      }
      if (entry.titleNode && entry.titleNode.textContent !== title) {
        entry.titleNode.textContent = title;
      }
      entry.cell.classList.toggle('disabled', !widget.usable);
      const control = entry.control;
      if (!control) {
        continue;
      }
      control.disabled = !widget.usable;
      if (widget.type === 'ZAFDlgEditor') {
        if (widget.masked) {
          // The tool never sends a password, only whether there is one.
          control.placeholder = widget.text ? 'set (type to replace)' : 'not set';
          if (document.activeElement !== control) {
            control.value = '';
          }
        } else if (document.activeElement !== control) {
          control.value = widget.text === null ? '' : widget.text;
        }
      } else if (widget.type === 'ZAFDlgCheckButton') {
        control.checked = widget.state === 'checked';
      }
    }
  }

  // ---- The operator's actions ----

  function typed(id, input) {
    const text = input.value;
    const masked = input.type === 'password';
    if (masked) {
      input.value = ''; // the page keeps no password once it has been sent
    }
    act(async () => {
      await call('POST', '/api/type', { id, text });
      await refresh();
      if (masked) {
        notify('The password was handed to the plug-in.');
      }
    });
  }

  function toggled(id) {
    act(async () => {
      await call('POST', '/api/toggle', { id });
      await refresh();
    });
  }

  function pressed(id) {
    lastPressed = id;
    act(async () => {
      await call('POST', '/api/press', { id });
      await refresh();
    });
  }

  // ---- The directory chooser ----

  function chooserHeading() {
    const button = tree && tree.widgets.find((widget) => widget.id === lastPressed);
    if (!button) {
      return 'Choose a folder';
    }
    const siblings = tree.widgets.filter((widget) => widget.parentId === button.parentId);
    const label = labelOfRow(button, siblings);
    return label && label.title ? `Choose the ${label.title}` : 'Choose a folder';
  }

  function syncChooser(open) {
    const dialog = byId('chooser');
    if (!open) {
      chooser = null;
      if (dialog.open) {
        dialog.close();
      }
      return;
    }
    if (chooser && chooser.id === open.id) {
      return;
    }
    chooser = { id: open.id, path: null, parent: null };
    byId('chooser-title').textContent = open.title || chooserHeading();
    byId('chooser-error').hidden = true;
    byId('chooser-list').replaceChildren();
    byId('chooser-list').dataset.path = '';
    if (!dialog.open) {
      dialog.showModal();
    }
    listFolder(open.start);
  }

  // The path of `name` in `folder`, joined by the server's separator ('\\' on Windows).
  function childPath(folder, name, separator) {
    return folder.endsWith(separator) ? folder + name : folder + separator + name;
  }

  // Only the folder asked for last is shown: an answer that comes after a later question's
  // (the start folder's, say, after the operator typed another) is dropped.
  let lastListing = 0;
  async function listFolder(path) {
    if (!chooser) {
      return;
    }
    const asked = ++lastListing;
    const query = new URLSearchParams({ path, hidden: byId('chooser-hidden').checked ? '1' : '0' });
    const error = byId('chooser-error');
    let listing;
    try {
      listing = await call('GET', `/api/folders?${query}`);
    } catch (failure) {
      if (asked === lastListing) {
        error.textContent = failure.message;
        error.hidden = false;
      }
      return;
    }
    if (asked !== lastListing || !chooser) {
      return;
    }
    error.hidden = true;
    chooser.path = listing.path;
    chooser.parent = listing.parent;
    byId('chooser-path').value = listing.path;
    byId('chooser-up').disabled = listing.parent === null;
    const list = byId('chooser-list');
    list.replaceChildren();
    // At a root the other roots (Windows' drives) come first, each named by its path.
    const entries = [
      ...listing.roots.filter((root) => root !== listing.path).map((root) => [root, root]),
      ...listing.folders.map((name) => [name, childPath(listing.path, name, listing.separator)]),
    ];
    for (const [label, target] of entries) {
      const button = make('button', { type: 'button', className: 'folder', textContent: label });
      button.dataset.path = target;
      button.addEventListener('click', () => listFolder(button.dataset.path));
      list.append(make('li', {}, button));
    }
    if (listing.folders.length === 0) {
      list.append(make('li', { className: 'empty', textContent: 'No folders inside' }));
    }
    if (listing.truncated) {
      list.append(make('li', { className: 'empty', textContent: 'More folders not shown' }));
    }
    list.dataset.path = listing.path;
    list.scrollTop = 0;
  }

  function closeChooser(ok) {
    if (!chooser) {
      return;
    }
    const { id, path } = chooser;
    act(async () => {
      await call('POST', ok ? '/api/chooser/ok' : '/api/chooser/cancel', ok ? { id, path } : { id });
      await refresh();
    });
  }

  // ---- The host's buttons ----

  function showMessage(title, text, page) {
    byId('message-title').textContent = title;
    byId('message-text').textContent = text;
    byId('message-page').textContent = page ? `On the page “${page}”` : '';
    byId('message').showModal();
  }

  function validate() {
    act(async () => {
      const verdict = await call('POST', '/api/validate');
      if (verdict.valid) {
        showMessage('The settings are valid', 'The plug-in accepts every field.', '');
        return;
      }
      showPage(verdict.page.id);
      showMessage(verdict.title, verdict.text, verdict.page.title);
    });
  }

  function save() {
    act(async () => {
      const stored = await call('POST', '/api/save');
      notify(`Settings stored in ${stored.file}`);
    });
  }

  function table(rows) {
    return make('table', { className: 'pairs' },
      ...rows.map(([name, value]) =>
        make('tr', {}, make('th', { textContent: name }), make('td', { textContent: value }))));
  }

  function renderPlan(plan) {
    const commands = make('ol', { className: 'commands' });
    for (const command of plan.commands) {
      const line = command.line
        ? make('code', { textContent: command.line })
        : make('em', { textContent: 'nothing to run' });
      commands.append(make('li', {}, make('span', { className: 'tag', textContent: command.tag }), line));
    }
    const source = plan.dataSource;
    const sourceRows = Object.keys(source).filter((key) => key !== 'count')
      .map((key) => [key, source[key] === null ? '' : source[key]]);
    byId('plan-body').replaceChildren(
      make('h3', { textContent: `Commands, in order (${plan.commands.length})` }), commands,
      make('h3', { textContent: `Data source (${source.count})` }), table(sourceRows),
      make('h3', { textContent: 'Java variables' }),
      table(plan.javaVariables.map((variable) => [variable.name, variable.value])));
  }

  function plan() {
    act(async () => {
      renderPlan(await call('GET', '/api/plan'));
      byId('plan-view').showModal();
    });
  }

  // ---- Deployment ----

  function showProgress(progress) {
    const running = progress.state === 'running';
    byId('activity').hidden = !running;
    const messages = {
      idle: 'Validates the settings, then runs the commands of the plan on this machine, in order, stopping at the first failure.',
      running: 'Running the commands of the plan…',
    };
    byId('deploy-message').textContent = progress.message || messages[progress.state] || '';
    byId('deploy-message').className = `deploy-message ${progress.state}`;

    const problem = progress.failure || progress.validation;
    byId('deploy-problem').hidden = !problem;
    if (problem) {
      byId('deploy-problem-title').textContent = problem.title || '';
      byId('deploy-problem-text').textContent = problem.text || '';
      // The plug-in's text usually tells the detail already.
      const detail = problem.detail && !(problem.text || '').includes(problem.detail);
      byId('deploy-problem-detail').textContent = detail ? problem.detail : '';
      byId('deploy-problem-detail').hidden = !detail;
    }

    const steps = byId('deploy-steps');
    steps.replaceChildren(...progress.steps.map((step) => make('li', { className: `step ${step.status}` },
      make('span', { className: 'badge', textContent: STATUS_NAMES[step.status] || step.status }),
      make('span', { className: 'tag', textContent: step.tag }),
      step.line ? make('code', { textContent: step.line }) : '')));
    const current = steps.querySelector('.running, .failed');
    if (current) {
      current.scrollIntoView({ block: 'nearest' });
    }
    byId('deploy-output').textContent = progress.output.join('\n');
    byId('deploy-output-box').hidden = progress.output.length === 0;

    const resume = byId('deploy-resume');
    resume.hidden = !progress.failure;
    if (progress.failure) {
      resume.textContent = `Resume from ${progress.failure.tag}`;
      resume.dataset.tag = progress.failure.tag;
    }
    byId('deploy-run').disabled = running;
    byId('deploy-run').textContent = progress.state === 'idle' ? 'Run' : 'Run again';
    if (progress.validation && progress.validation.page) {
      showPage(progress.validation.page.id);
    }
  }

  async function poll() {
    if (polling) {
      return;
    }
    polling = true;
    try {
      for (;;) {
        const progress = await call('GET', '/api/deploy');
        showProgress(progress);
        if (progress.state !== 'running') {
          break;
        }
        await new Promise((resolve) => setTimeout(resolve, 400));
      }
    } catch (error) {
      notify(error.message, 'error');
    } finally {
      polling = false;
    }
    await refresh().catch(() => {});
  }

  function openDeploy() {
    act(async () => {
      const progress = await call('GET', '/api/deploy');
      if (progress.state === 'idle') {
        // Nothing has run yet: the steps are those of the plan as it stands.
        const plan = await call('GET', '/api/plan');
        progress.steps = plan.commands.map((command) =>
          ({ tag: command.tag, status: 'pending', line: command.line }));
      }
      showProgress(progress);
      byId('deploy-view').showModal();
      if (progress.state === 'running') {
        poll();
      }
    });
  }

  function runDeploy(startAt) {
    act(async () => {
      const progress = await call('POST', '/api/deploy', startAt ? { startAt } : {});
      showProgress(progress);
      await refresh();
      if (progress.state === 'running') {
        poll();
      }
    });
  }

  // ---- Wiring ----

  byId('validate').addEventListener('click', validate);
  byId('save').addEventListener('click', save);
  byId('plan').addEventListener('click', plan);
  byId('deploy').addEventListener('click', openDeploy);
  byId('deploy-run').addEventListener('click', () => runDeploy(''));
  byId('deploy-resume').addEventListener('click', (event) => runDeploy(event.target.dataset.tag));
  byId('deploy-close').addEventListener('click', () => byId('deploy-view').close());
  byId('plan-close').addEventListener('click', () => byId('plan-view').close());
  byId('message-close').addEventListener('click', () => byId('message').close());

  byId('chooser-ok').addEventListener('click', () => closeChooser(true));
  byId('chooser-cancel').addEventListener('click', () => closeChooser(false));
  byId('chooser').addEventListener('cancel', (event) => {
    // Escape closes the chooser as Cancel does, through the plug-in.
    event.preventDefault();
    closeChooser(false);
  });
  byId('chooser-up').addEventListener('click', () => {
    if (chooser && chooser.parent) {
      listFolder(chooser.parent);
    }
  });
  byId('chooser-go').addEventListener('click', () => listFolder(byId('chooser-path').value));
  byId('chooser-path').addEventListener('keydown', (event) => {
    if (event.key === 'Enter') {
      event.preventDefault();
      listFolder(byId('chooser-path').value);
    }
  });
  byId('chooser-hidden').addEventListener('change', () => {
    if (chooser && chooser.path) {
      listFolder(chooser.path);
    }
  });

  if (!pageSecret) {
    byId('pages').replaceChildren(make('p', {
      className: 'loading',
      textContent: 'This tab did not enter the setup dialog: use the tab that opened it, or ' +
        'restart wassetup ui for a new address.',
    }));
    for (const button of document.querySelectorAll('.actions button')) {
      button.disabled = true;
    }
    document.body.dataset.busy = 'false';
    return;
  }
  act(async () => {
    await refresh();
    if (tree.deploying) {
      poll();
    }
  });
})();
